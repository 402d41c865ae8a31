#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QVariantMap>

#include <optional>

// Public-key pinning of TLS connections, configured like the "TSKConfiguration" entry of the information
// dictionary: per domain, SHA-256 hashes (Base64) of the SubjectPublicKeyInfo a valid chain must contain.
class PinningPolicy {
public:
    struct PinnedDomain {
        QString domain;
        bool includeSubdomains = false;
        bool enforcePinning = true;
        QList<QByteArray> publicKeyHashes; // raw 32-byte digests
    };

    enum class Verdict {
        notPinned,  // no pin applies to the host
        accepted,   // the chain holds a pinned key
        rejected,   // no pinned key, and the domain enforces its pins
        reportOnly, // no pinned key, but the domain does not enforce its pins
    };

    PinningPolicy() = default;
    // Reads "TSKPinnedDomains" with "TSKIncludeSubdomains", "TSKEnforcePinning" and "TSKPublicKeyHashes".
    static PinningPolicy fromConfiguration(const QVariantMap& tskConfiguration);

    const QList<PinnedDomain>& domains() const { return m_domains; }
    std::optional<PinnedDomain> domainFor(const QString& host) const;
    // The chain has already passed the normal validation; this only looks for a pinned key in it.
    Verdict evaluate(const QString& host, const QList<QSslCertificate>& chain) const;

    // The presented chain followed by the trusted authority that signed its last certificate, so that a
    // pinned root key counts although servers do not send their root.
    static QList<QSslCertificate> withTrustAnchor(const QList<QSslCertificate>& presented,
                                                  const QList<QSslCertificate>& authorities);

    // SHA-256 of the certificate's DER SubjectPublicKeyInfo; empty when the certificate does not parse.
    static QByteArray spkiSha256(const QSslCertificate& certificate);

    // The policy of the information dictionary's "TSKConfiguration", or the one a test installed.
    static PinningPolicy shared();
    static void setShared(const PinningPolicy& policy);

private:
    QList<PinnedDomain> m_domains;
};
