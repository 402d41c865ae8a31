#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <optional>

struct DeviceKeyHandle;

// A device's RSA private key, held in memory only while it is used. Cheap to copy; all copies share one
// key, which is wiped when the last copy goes.
class PrivateKey {
public:
    // RSA PKCS#1 v1.5 over the SHA-256 of `message`; absent when the key cannot sign.
    std::optional<QByteArray> signSha256(QByteArrayView message) const;
    int bits() const;

    explicit PrivateKey(std::shared_ptr<const DeviceKeyHandle> handle);
    const DeviceKeyHandle& handle() const { return *m_handle; }

private:
    std::shared_ptr<const DeviceKeyHandle> m_handle;
};
