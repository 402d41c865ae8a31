#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

struct DeviceKeyHandle;

// A device's RSA public key. Cheap to copy; all copies share one key.
class PublicKey {
public:
    // Its external representation: the PKCS#1 RSAPublicKey DER; empty when it cannot be exported.
    QByteArray externalRepresentation() const;
    int bits() const;
    // Whether the key suits the device-key protocol (RSA with PKCS#1 v1.5 padding).
    bool supportsRsaPkcs1() const;
    bool verifySha256(QByteArrayView message, QByteArrayView signature) const;

    bool operator==(const PublicKey& other) const;

    explicit PublicKey(std::shared_ptr<const DeviceKeyHandle> handle);
    const DeviceKeyHandle& handle() const { return *m_handle; }

private:
    std::shared_ptr<const DeviceKeyHandle> m_handle;
};
