#include "CryptoExportImportManager.h"

namespace {

// AlgorithmIdentifier { rsaEncryption, NULL }.
constexpr unsigned char rsaAlgorithmIdentifier[] = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                    0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};

int encodedLengthSize(qsizetype length) {
    if (length < 128)
        return 1;
    int bytes = 0;
    for (auto v = quint64(length); v != 0; v >>= 8)
        ++bytes;
    return 1 + bytes;
}

} // namespace

int CryptoExportImportManager::derLength(qsizetype length, QByteArray& buffer) const {
    if (length < 128) {
        buffer.append(char(length));
        return 1;
    }
    const int valueBytes = encodedLengthSize(length) - 1;
    buffer.append(char(0x80 | valueBytes));
    for (int i = valueBytes - 1; i >= 0; --i)
        buffer.append(char((quint64(length) >> (8 * i)) & 0xFF));
    return 1 + valueBytes;
}

QByteArray CryptoExportImportManager::derSubjectPublicKeyInfo(const QByteArray& rawPublicKey) const {
    const qsizetype bitStringLength = rawPublicKey.size() + 1;
    const qsizetype bodyLength = qsizetype(sizeof(rsaAlgorithmIdentifier)) + 1 +
                                 encodedLengthSize(bitStringLength) + bitStringLength;
    QByteArray der;
    der.reserve(1 + encodedLengthSize(bodyLength) + bodyLength);
    der.append(char(0x30));
    derLength(bodyLength, der);
    der.append(reinterpret_cast<const char*>(rsaAlgorithmIdentifier), qsizetype(sizeof(rsaAlgorithmIdentifier)));
    der.append(char(0x03));
    derLength(bitStringLength, der);
    der.append(char(0x00));
    der.append(rawPublicKey);
    return der;
}

QString CryptoExportImportManager::exportPublicKeyPEM(const QByteArray& der) const {
    const QByteArray base64 = der.toBase64();
    QString pem = QStringLiteral("-----BEGIN PUBLIC KEY-----\n");
    for (qsizetype at = 0; at < base64.size(); at += 64) {
        pem += QString::fromLatin1(base64.mid(at, 64));
        pem += u'\n';
    }
    pem += QStringLiteral("-----END PUBLIC KEY-----");
    return pem;
}
