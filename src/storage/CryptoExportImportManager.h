#pragma once

#include <QByteArray>
#include <QString>

// Wraps a raw RSA public key (PKCS#1 RSAPublicKey) as an X.509 SubjectPublicKeyInfo, and that as PEM,
// the form the identity service takes at registration.
class CryptoExportImportManager {
public:
    QByteArray derSubjectPublicKeyInfo(const QByteArray& rawPublicKey) const;
    QString exportPublicKeyPEM(const QByteArray& der) const;
    // Appends one DER length to `buffer`; returns the number of bytes appended.
    int derLength(qsizetype length, QByteArray& buffer) const;
};
