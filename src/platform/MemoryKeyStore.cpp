#include "MemoryKeyStore.h"

#include <QMutexLocker>

#include <algorithm>

KeyStore::Status MemoryKeyStore::lookUp(const QString& tag, std::vector<SecureBytes>& secrets) {
    QMutexLocker lock(&m_mutex);
    ++m_lookups;
    secrets.clear();
    if (!m_available)
        return notAvailable;
    for (const Item& item : m_items) {
        if (item.tag == tag)
            secrets.emplace_back(item.secret.view());
    }
    return secrets.empty() ? itemNotFound : success;
}

KeyStore::Status MemoryKeyStore::add(const QString& tag, const SecureBytes& privateKeyDer) {
    QMutexLocker lock(&m_mutex);
    if (!m_available)
        return notAvailable;
    if (std::any_of(m_items.begin(), m_items.end(), [&](const Item& item) { return item.tag == tag; }))
        return duplicateItem;
    m_items.push_back({tag, SecureBytes(privateKeyDer.view())});
    return success;
}

KeyStore::Status MemoryKeyStore::retag(const QString& from, const QString& to, const Match& which) {
    QMutexLocker lock(&m_mutex);
    if (!m_available)
        return notAvailable;
    if (m_movesRefused)
        return failure;
    if (from != to &&
        std::any_of(m_items.begin(), m_items.end(), [&](const Item& item) { return item.tag == to; }))
        return duplicateItem;
    bool found = false;
    for (Item& item : m_items) {
        if (item.tag == from && which(item.secret)) {
            item.tag = to;
            found = true;
        }
    }
    return found ? success : itemNotFound;
}

KeyStore::Status MemoryKeyStore::remove(const QString& tag, const Match& which) {
    QMutexLocker lock(&m_mutex);
    if (!m_available)
        return notAvailable;
    const auto removed =
        std::erase_if(m_items, [&](const Item& item) { return item.tag == tag && which(item.secret); });
    return removed > 0 ? success : itemNotFound;
}

void MemoryKeyStore::clear() {
    QMutexLocker lock(&m_mutex);
    m_items.clear();
}

QString MemoryKeyStore::lastError() const {
    QMutexLocker lock(&m_mutex);
    return m_available ? QString() : QStringLiteral("The key store is not available.");
}

int MemoryKeyStore::count(const QString& tag) const {
    QMutexLocker lock(&m_mutex);
    return int(
        std::count_if(m_items.begin(), m_items.end(), [&](const Item& item) { return item.tag == tag; }));
}

int MemoryKeyStore::size() const {
    QMutexLocker lock(&m_mutex);
    return int(m_items.size());
}

int MemoryKeyStore::lookups() const {
    QMutexLocker lock(&m_mutex);
    return m_lookups;
}

void MemoryKeyStore::setAvailable(bool available) {
    QMutexLocker lock(&m_mutex);
    m_available = available;
}

void MemoryKeyStore::setMovesRefused(bool refused) {
    QMutexLocker lock(&m_mutex);
    m_movesRefused = refused;
}
