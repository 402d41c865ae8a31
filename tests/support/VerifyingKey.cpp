#include "VerifyingKey.h"

#include <QByteArray>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

struct VerifyingKey::Key {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{nullptr, &EVP_PKEY_free};
};

VerifyingKey::VerifyingKey(std::shared_ptr<const Key> key)
    : m_key(std::move(key)) {}

std::optional<VerifyingKey> VerifyingKey::fromPem(const QString& publicKeyPem) {
    const QByteArray pem = publicKeyPem.toUtf8();
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.constData(), int(pem.size())),
                                                  BIO_free);
    if (!bio)
        return std::nullopt;
    auto parsed = std::make_shared<Key>();
    parsed->key.reset(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!parsed->key)
        return std::nullopt;
    return VerifyingKey(std::move(parsed));
}

bool VerifyingKey::verify(const QString& message, const QString& signatureBase64) const {
    const auto decoded =
        QByteArray::fromBase64Encoding(signatureBase64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return false;

    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context ||
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, m_key->key.get()) != 1)
        return false;
    const QByteArray bytes = message.toUtf8();
    return EVP_DigestVerify(
               context.get(), reinterpret_cast<const unsigned char*>(decoded.decoded.constData()),
               size_t(decoded.decoded.size()), reinterpret_cast<const unsigned char*>(bytes.constData()),
               size_t(bytes.size())) == 1;
}
