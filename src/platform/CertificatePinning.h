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
    // `spkiHashes`: the keys (spkiSha256) of the chain that certificate verification built up to a trusted
    // authority, never of what the peer merely sent along; this only looks for a pinned key among them.
    Verdict evaluate(const QString& host, const QList<QByteArray>& spkiHashes) const;

    // SHA-256 of the certificate's DER SubjectPublicKeyInfo; empty when the certificate does not parse.
    static QByteArray spkiSha256(const QSslCertificate& certificate);
    static QByteArray spkiSha256(const QByteArray& derCertificate);

    // The policy of the information dictionary's "TSKConfiguration", or the one a test installed.
    static PinningPolicy shared();
    static void setShared(const PinningPolicy& policy);

private:
    QList<PinnedDomain> m_domains;
};
