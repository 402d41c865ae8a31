#include "SecureBytes.h"

#include <openssl/crypto.h>

#include <utility>

SecureBytes::SecureBytes(QByteArrayView bytes)
    : m_bytes(reinterpret_cast<const unsigned char*>(bytes.data()),
              reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()) {}

SecureBytes::SecureBytes(std::size_t size) : m_bytes(size) {}

SecureBytes::~SecureBytes() { clear(); }

SecureBytes::SecureBytes(SecureBytes&& other) noexcept : m_bytes(std::exchange(other.m_bytes, {})) {}

SecureBytes& SecureBytes::operator=(SecureBytes&& other) noexcept {
    if (this != &other) {
        clear();
        m_bytes = std::exchange(other.m_bytes, {});
    }
    return *this;
}

void SecureBytes::clear() {
    if (!m_bytes.empty())
        OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    m_bytes.clear();
    m_bytes.shrink_to_fit();
}
