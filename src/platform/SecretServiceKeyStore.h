#pragma once

#include "KeyStore.h"

#include <QMutex>

// The device keys in the desktop keyring, through the Secret Service. Each key is one item, filed in the
// default collection and found in any, by an attribute that holds its tag; the item's secret is the private
// key. A look at a tag asks the keyring to unlock a locked collection that holds an item under it (the
// desktop may prompt); an item that stays locked makes the tag unanswered.
class SecretServiceKeyStore final : public KeyStore {
public:
    std::optional<SecureBytes> find(const QString& tag) override;
    Status lookUp(const QString& tag, std::optional<SecureBytes>& secret) override;
    Status add(const QString& tag, const SecureBytes& privateKeyDer) override;
    Status retag(const QString& from, const QString& to) override;
    Status remove(const QString& tag) override;
    QString lastError() const override;

    // Whether a Secret Service answers on the session bus at all.
    static bool isAvailable();

    enum class Reachability { reachable, noService, locked };
    // Whether keys can be kept: a service answers and its default collection is unlocked, or unlocks when
    // asked (the desktop may prompt for the keyring password; this call waits for that answer). Blocks.
    static Reachability reachability();

private:
    void setLastError(const QString& error);

    mutable QMutex m_mutex;
    QString m_lastError;
};
