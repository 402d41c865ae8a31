#pragma once

#include "PrivateKey.h"

#include <QMutex>
#include <QString>

#include <optional>

// The parsed private key of the signed-in user, kept for the session so that the signatures of one approval
// (and of the next) neither read the keyring nor parse the key again. It holds at most one key, and only
// for the session it was looked up in; without a session it keeps nothing. Safe to use from several threads.
class SigningKeyCache {
public:
    // A key may be kept only for the session it was looked up in: a lookup that started before the key
    // was dropped (logout, deletion, a move) may have read what is no longer there.
    using Generation = quint64;

    // Names the signed-in user's session (KeyChain::sessionName). Any key held so far goes, even one of
    // the same session.
    void beginSession(const QString& session);
    // Forgets the tag and the key.
    void endSession();
    // Drops whatever key is held; the session goes on and the next signature reads the store.
    void dropKey();

    std::optional<PrivateKey> find(const QString& session) const;
    // Taken before a lookup in the store; keep() accepts the key only if nothing changed meanwhile.
    Generation generation() const;
    // Keeps `key` when `session` is the current one and nothing was dropped since `lookedUpAt`.
    void keep(const QString& session, const PrivateKey& key, Generation lookedUpAt);

private:
    void resetKey();

    mutable QMutex m_mutex;
    std::optional<QString> m_session;
    std::optional<PrivateKey> m_key;
    Generation m_generation = 0;
};
