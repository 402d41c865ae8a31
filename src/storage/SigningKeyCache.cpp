#include "SigningKeyCache.h"

#include <QMutexLocker>

void SigningKeyCache::resetKey() {
    // The last copy of the key wipes it; a signature under way keeps its own copy until it is done.
    m_key.reset();
    ++m_generation;
}

void SigningKeyCache::beginSession(const QString& tag) {
    QMutexLocker lock(&m_mutex);
    m_sessionTag = tag;
    resetKey();
}

void SigningKeyCache::endSession() {
    QMutexLocker lock(&m_mutex);
    m_sessionTag.reset();
    resetKey();
}

void SigningKeyCache::drop(const QString& tag) {
    QMutexLocker lock(&m_mutex);
    // A lookup of this tag may be on its way even while nothing is held yet.
    if (m_sessionTag == tag)
        resetKey();
}

void SigningKeyCache::dropKey() {
    QMutexLocker lock(&m_mutex);
    resetKey();
}

std::optional<PrivateKey> SigningKeyCache::find(const QString& tag) const {
    QMutexLocker lock(&m_mutex);
    if (!m_key || m_sessionTag != tag)
        return std::nullopt;
    return m_key;
}

SigningKeyCache::Generation SigningKeyCache::generation() const {
    QMutexLocker lock(&m_mutex);
    return m_generation;
}

void SigningKeyCache::keep(const QString& tag, const PrivateKey& key, Generation lookedUpAt) {
    QMutexLocker lock(&m_mutex);
    if (m_sessionTag != tag || m_generation != lookedUpAt)
        return;
    m_key = key;
}
