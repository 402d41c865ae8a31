#include "PrivateKey.h"

#include "DeviceKeyHandle_p.h"

#include <openssl/rsa.h>

PrivateKey::PrivateKey(std::shared_ptr<const DeviceKeyHandle> handle) : m_handle(std::move(handle)) {}

std::optional<QByteArray> PrivateKey::signSha256(QByteArrayView message) const {
    if (EVP_PKEY_get_base_id(m_handle->key.get()) != EVP_PKEY_RSA)
        return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx)
        return std::nullopt;
    EVP_PKEY_CTX* keyCtx = nullptr;
    if (EVP_DigestSignInit(ctx.get(), &keyCtx, EVP_sha256(), nullptr, m_handle->key.get()) != 1)
        return std::nullopt;
    if (EVP_PKEY_CTX_set_rsa_padding(keyCtx, RSA_PKCS1_PADDING) != 1)
        return std::nullopt;
    size_t length = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(message.data());
    if (EVP_DigestSign(ctx.get(), nullptr, &length, data, size_t(message.size())) != 1)
        return std::nullopt;
    QByteArray signature(qsizetype(length), Qt::Uninitialized);
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, data,
                       size_t(message.size())) != 1)
        return std::nullopt;
    signature.resize(qsizetype(length));
    return signature;
}

int PrivateKey::bits() const { return EVP_PKEY_get_bits(m_handle->key.get()); }
