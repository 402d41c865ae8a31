#include "KeyAttempt.h"

#include "CoreDataManager.h"
#include "KeyStore.h"

std::optional<KeyAttempt> KeyAttempt::begin(CoreDataManager& store, const QString& email,
                                            const QString& pinHash) {
    QString tag = KeyChain::attemptTag(email, pinHash);
    const std::optional<qint64> record = store.beginKeyAttempt(tag);
    if (!record)
        return std::nullopt;
    return KeyAttempt(store, *record, std::move(tag));
}

KeyAttempt::KeyAttempt(CoreDataManager& store, qint64 record, QString tag)
    : m_store(&store)
    , m_record(record)
    , m_tag(std::move(tag)) {}

// Each step's task is made outside the co_await expression: temporaries there have been destroyed twice by
// the compiler we build with.
QCoro::Task<std::optional<KeyChain::KeyPair>> KeyAttempt::makeKeyPair() {
    QCoro::Task<std::optional<KeyChain::KeyPair>> generation = KeyChain::generateKeyPairAsync();
    const std::optional<KeyChain::KeyPair> made = co_await generation;
    if (!made)
        co_return std::nullopt;
    // Named before it is filed: a run that ends in between leaves a record of a key that is not there,
    // never a key that nothing names.
    const QString identity = KeyChain::keyIdentity(made->publicKey);
    if (!m_store->nameAttemptKey(m_record, identity))
        co_return std::nullopt;
    m_keyIdentity = identity;
    QCoro::Task<qint32> filing = KeyChain::addKeyPairAsync(m_tag, *made);
    const qint32 status = co_await filing;
    if (status != KeyStore::success) {
        m_keyringUnanswered = status != KeyStore::duplicateItem && status != KeyStore::param;
        co_return std::nullopt;
    }
    m_filed = true;
    co_return made;
}

std::optional<KeyChain::KnownKey> KeyAttempt::key() const {
    if (!m_filed || !m_keyIdentity)
        return std::nullopt;
    return KeyChain::KnownKey{m_tag, *m_keyIdentity};
}

bool KeyAttempt::forUser(const QString& zid) {
    return m_store->nameAttemptUser(m_record, zid);
}

QCoro::Task<void> KeyAttempt::end() {
    if (m_userStored) {
        m_store->endKeyAttempt(m_record);
        co_return;
    }
    if (m_keyIdentity) {
        QCoro::Task<bool> deletion = KeyChain::deleteKnownKeyAsync(KeyChain::KnownKey{m_tag, *m_keyIdentity});
        const bool gone = co_await deletion;
        if (!gone)
            co_return;
    }
    m_store->endKeyAttempt(m_record);
}
