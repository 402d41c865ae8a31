#include "SigningKeyCache.h"

#include <QMutexLocker>

void SigningKeyCache::resetKey() {
    // The last copy of the key wipes it; a signature under way keeps its own copy until it is done.
    m_key.reset();
    ++m_generation;
}

void SigningKeyCache::beginSession(const QString& session) {
    QMutexLocker lock(&m_mutex);
    m_session = session;
    resetKey();
}

void SigningKeyCache::endSession() {
    QMutexLocker lock(&m_mutex);
    m_session.reset();
    resetKey();
}

void SigningKeyCache::dropKey() {
    QMutexLocker lock(&m_mutex);
    resetKey();
}

std::optional<PrivateKey> SigningKeyCache::find(const QString& session) const {
    QMutexLocker lock(&m_mutex);
    if (!m_key || m_session != session)
        return std::nullopt;
    return m_key;
}

SigningKeyCache::Generation SigningKeyCache::generation() const {
    QMutexLocker lock(&m_mutex);
    return m_generation;
}

void SigningKeyCache::keep(const QString& session, const PrivateKey& key, Generation lookedUpAt) {
    QMutexLocker lock(&m_mutex);
    if (m_session != session || m_generation != lookedUpAt)
        return;
    m_key = key;
}
