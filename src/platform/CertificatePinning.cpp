#include "CertificatePinning.h"

#include "BundleInfo.h"

#include <QMutex>

#include <openssl/crypto.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <memory>

namespace {

struct X509Deleter {
    void operator()(X509* x) const { X509_free(x); }
};

QMutex& sharedLock() {
    static QMutex mutex;
    return mutex;
}

std::optional<PinningPolicy>& sharedPolicy() {
    static std::optional<PinningPolicy> policy;
    return policy;
}

} // namespace

PinningPolicy PinningPolicy::fromConfiguration(const QVariantMap& tskConfiguration) {
    PinningPolicy policy;
    const QVariantMap domains = tskConfiguration.value(QStringLiteral("TSKPinnedDomains")).toMap();
    for (auto it = domains.cbegin(); it != domains.cend(); ++it) {
        const QVariantMap entry = it.value().toMap();
        PinnedDomain domain;
        domain.domain = it.key().toLower();
        domain.includeSubdomains = entry.value(QStringLiteral("TSKIncludeSubdomains"), false).toBool();
        domain.enforcePinning = entry.value(QStringLiteral("TSKEnforcePinning"), true).toBool();
        for (const QVariant& hash : entry.value(QStringLiteral("TSKPublicKeyHashes")).toList()) {
            const auto digest = QByteArray::fromBase64Encoding(hash.toString().toLatin1(),
                                                               QByteArray::AbortOnBase64DecodingErrors);
            if (digest && digest.decoded.size() == SHA256_DIGEST_LENGTH)
                domain.publicKeyHashes.append(*digest);
        }
        policy.m_domains.append(domain);
    }
    return policy;
}

std::optional<PinningPolicy::PinnedDomain> PinningPolicy::domainFor(const QString& host) const {
    const QString h = host.toLower();
    std::optional<PinnedDomain> best;
    for (const PinnedDomain& d : m_domains) {
        const bool exact = h == d.domain;
        const bool sub = d.includeSubdomains && h.endsWith(QLatin1Char('.') + d.domain);
        if ((exact || sub) && (!best || exact || d.domain.size() > best->domain.size()))
            best = d;
        if (exact)
            break;
    }
    return best;
}

PinningPolicy::Verdict PinningPolicy::evaluate(const QString& host,
                                               const QList<QByteArray>& spkiHashes) const {
    const auto domain = domainFor(host);
    if (!domain)
        return Verdict::notPinned;
    for (const QByteArray& hash : spkiHashes)
        if (!hash.isEmpty() && domain->publicKeyHashes.contains(hash))
            return Verdict::accepted;
    return domain->enforcePinning ? Verdict::rejected : Verdict::reportOnly;
}

QByteArray PinningPolicy::spkiSha256(const QSslCertificate& certificate) {
    return spkiSha256(certificate.toDer());
}

QByteArray PinningPolicy::spkiSha256(const QByteArray& derCertificate) {
    const auto* cursor = reinterpret_cast<const unsigned char*>(derCertificate.constData());
    const std::unique_ptr<X509, X509Deleter> x509(d2i_X509(nullptr, &cursor, derCertificate.size()));
    if (!x509)
        return {};
    unsigned char* spki = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x509.get()), &spki);
    if (length <= 0)
        return {};
    QByteArray digest(SHA256_DIGEST_LENGTH, Qt::Uninitialized);
    SHA256(spki, static_cast<size_t>(length), reinterpret_cast<unsigned char*>(digest.data()));
    OPENSSL_free(spki);
    return digest;
}

PinningPolicy PinningPolicy::shared() {
    QMutexLocker locker(&sharedLock());
    if (!sharedPolicy())
        sharedPolicy() =
            fromConfiguration(BundleInfo::infoDictionary().value(QStringLiteral("TSKConfiguration")).toMap());
    return *sharedPolicy();
}

void PinningPolicy::setShared(const PinningPolicy& policy) {
    QMutexLocker locker(&sharedLock());
    sharedPolicy() = policy;
}
