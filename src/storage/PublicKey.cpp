#include "PublicKey.h"

#include "DeviceKeyHandle_p.h"

#include <openssl/rsa.h>
#include <openssl/x509.h>

PublicKey::PublicKey(std::shared_ptr<const DeviceKeyHandle> handle) : m_handle(std::move(handle)) {}

QByteArray PublicKey::externalRepresentation() const {
    unsigned char* der = nullptr;
    const int length = i2d_PublicKey(m_handle->key.get(), &der);
    if (length <= 0)
        return {};
    QByteArray bytes(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    return bytes;
}

int PublicKey::bits() const { return EVP_PKEY_get_bits(m_handle->key.get()); }

bool PublicKey::supportsRsaPkcs1() const { return EVP_PKEY_get_base_id(m_handle->key.get()) == EVP_PKEY_RSA; }

bool PublicKey::verifySha256(QByteArrayView message, QByteArrayView signature) const {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx)
        return false;
    EVP_PKEY_CTX* keyCtx = nullptr;
    if (EVP_DigestVerifyInit(ctx.get(), &keyCtx, EVP_sha256(), nullptr, m_handle->key.get()) != 1)
        return false;
    if (EVP_PKEY_CTX_set_rsa_padding(keyCtx, RSA_PKCS1_PADDING) != 1)
        return false;
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            size_t(signature.size()), reinterpret_cast<const unsigned char*>(message.data()),
                            size_t(message.size())) == 1;
}

bool PublicKey::operator==(const PublicKey& other) const {
    return EVP_PKEY_eq(m_handle->key.get(), other.m_handle->key.get()) == 1;
}
