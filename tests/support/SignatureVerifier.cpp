#include "SignatureVerifier.h"

#include "VerifyingKey.h"

namespace signature {

bool verify(const QString& publicKeyPem, const QString& message, const QString& signatureBase64) {
    const std::optional<VerifyingKey> key = VerifyingKey::fromPem(publicKeyPem);
    return key && key->verify(message, signatureBase64);
}

} // namespace signature
