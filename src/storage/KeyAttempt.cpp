#include "KeyAttempt.h"

#include "CoreDataManager.h"

std::optional<KeyAttempt> KeyAttempt::begin(CoreDataManager& store, QString tag) {
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
QCoro::Task<std::optional<KeyChain::KeyPair>> KeyAttempt::getOrCreateKeyPair() {
    QCoro::Task<std::optional<KeyChain::KeyPair>> lookup = KeyChain::findKeyPairAsync(m_tag);
    std::optional<KeyChain::KeyPair> found = co_await lookup;
    if (found)
        co_return found;
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
    QCoro::Task<std::optional<KeyChain::KeyPair>> filing = KeyChain::addKeyPairAsync(m_tag, *made);
    std::optional<KeyChain::KeyPair> filed = co_await filing;
    co_return filed;
}

void KeyAttempt::userStored(bool keyMoved) {
    m_userStored = true;
    m_keyMoved = keyMoved;
}

QCoro::Task<void> KeyAttempt::end() {
    if (m_userStored) {
        if (m_keyMoved)
            m_store->endKeyAttempt(m_record);
        co_return;
    }
    // Only the very key this attempt made: any other key under the tag (a stored user's not yet moved,
    // another profile's) was found here, not made.
    if (m_keyIdentity) {
        QCoro::Task<bool> deletion = KeyChain::deleteKnownKeyAsync(KeyChain::KnownKey{m_tag, *m_keyIdentity});
        const bool gone = co_await deletion;
        if (!gone)
            co_return;
    }
    m_store->endKeyAttempt(m_record);
}
