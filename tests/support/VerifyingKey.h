#pragma once

#include <QString>

#include <memory>
#include <optional>

// A registered public key as the identity service keeps it: parsed once from its PEM, then used for every
// signature check against it.
class VerifyingKey {
public:
    // Absent when the text is no PEM public key.
    static std::optional<VerifyingKey> fromPem(const QString& publicKeyPem);

    // RSA PKCS#1 v1.5 with SHA-256 over the UTF-8 bytes of `message`.
    bool verify(const QString& message, const QString& signatureBase64) const;

private:
    struct Key;
    explicit VerifyingKey(std::shared_ptr<const Key> key);

    std::shared_ptr<const Key> m_key;
};
