#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <vector>

// A buffer for key material: move-only, so no stray copy outlives it, and wiped when it goes away.
class SecureBytes {
public:
    SecureBytes() = default;
    explicit SecureBytes(QByteArrayView bytes);
    explicit SecureBytes(std::size_t size);
    ~SecureBytes();

    SecureBytes(SecureBytes&& other) noexcept;
    SecureBytes& operator=(SecureBytes&& other) noexcept;
    SecureBytes(const SecureBytes&) = delete;
    SecureBytes& operator=(const SecureBytes&) = delete;

    unsigned char* data() { return m_bytes.data(); }
    const unsigned char* data() const { return m_bytes.data(); }
    std::size_t size() const { return m_bytes.size(); }
    bool isEmpty() const { return m_bytes.empty(); }
    QByteArrayView view() const { return QByteArrayView(m_bytes.data(), qsizetype(m_bytes.size())); }
    void clear();

private:
    std::vector<unsigned char> m_bytes;
};
