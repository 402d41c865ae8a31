#pragma once

#include "KeyStore.h"

#include <QMutex>

#include <vector>

// A key store that lives in memory only, for tests. It can pretend to be unreachable, or to fail every move.
class MemoryKeyStore final : public KeyStore {
public:
    Status lookUp(const QString& tag, std::vector<SecureBytes>& secrets) override;
    Status add(const QString& tag, const SecureBytes& privateKeyDer) override;
    Status retag(const QString& from, const QString& to, const Match& which) override;
    Status remove(const QString& tag, const Match& which) override;
    QString lastError() const override;

    int count(const QString& tag) const;
    void clear();
    int size() const;
    // How often lookUp() was asked, whatever it found.
    int lookups() const;
    void setAvailable(bool available);
    // While refused, retag() fails as a keyring that cannot write the new attribute does.
    void setMovesRefused(bool refused);

private:
    struct Item {
        QString tag;
        SecureBytes secret;
    };
    mutable QMutex m_mutex;
    std::vector<Item> m_items;
    bool m_available = true;
    bool m_movesRefused = false;
    int m_lookups = 0;
};
