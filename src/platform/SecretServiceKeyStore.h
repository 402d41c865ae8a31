#pragma once

#include "KeyStore.h"

#include <QMutex>

// The device keys in the desktop keyring, through the Secret Service. Each key is one item, filed in the
// default collection and found in any, by an attribute that holds its tag; the item's secret is the private
// key. A look at a tag asks the keyring to unlock a locked collection that holds an item under it (the
// desktop may prompt); an item that stays locked makes the tag unanswered. A keyring daemon that ended or
// was restarted is connected to afresh by the next call.
class SecretServiceKeyStore final : public KeyStore {
public:
    Status lookUp(const QString& tag, std::vector<SecureBytes>& secrets) override;
    Status add(const QString& tag, const SecureBytes& privateKeyDer) override;
    Status retag(const QString& from, const QString& to, const Match& which) override;
    Status remove(const QString& tag, const Match& which) override;
    QString lastError() const override;

    // Whether a Secret Service answers on the session bus at all.
    static bool isAvailable();

    enum class Reachability { reachable, noService, locked };
    // Whether keys can be kept: a service answers and its default collection is unlocked, or unlocks when
    // asked (the desktop may prompt for the keyring password; this call waits for that answer). Blocks.
    static Reachability reachability();

private:
    // What the keyring said; a call it could not answer leaves its reason for lastError().
    Status answer(Status status, const QString& error);
    void setLastError(const QString& error);

    mutable QMutex m_mutex;
    QString m_lastError;
};
