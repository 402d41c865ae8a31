#pragma once

#include <QByteArray>
#include <QString>

// Checks a request signature the way the identity service does: RSA PKCS#1 v1.5 with SHA-256 over the
// UTF-8 bytes of the message, against the PEM public key that the enrolment registered.
namespace signature {

bool verify(const QString& publicKeyPem, const QString& message, const QString& signatureBase64);

} // namespace signature
