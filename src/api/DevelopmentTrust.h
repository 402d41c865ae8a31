#pragma once

#include "Environment.h"
#include "networking/URLLoading.h"

#include <QList>
#include <QSslCertificate>
#include <QUrl>

#include <memory>

// A development build talks to an identity service on this machine whose certificate comes from a
// certificate authority made for it alone. That authority is trusted in addition to the system's roots,
// for the development API host only: never for another host, and never by a build of another environment.
class DevelopmentTrust {
public:
    DevelopmentTrust(const BuildConfiguration& configuration, QList<QSslCertificate> authority);

    // The roots to trust besides the system's for a request to `url`; empty unless this is a development
    // build and `url` goes to the development API host (scheme, host and port).
    QList<QSslCertificate> extraTrustedRoots(const QUrl& url) const;
    // `base` with the extra roots for `url` added.
    SessionConfiguration sessionConfiguration(
        const QUrl& url, SessionConfiguration base = SessionConfiguration::defaultConfiguration()) const;

    // Made on first use from the shared build configuration; a development build reads the authority
    // from the file the build named, a missing or unreadable file trusts nothing extra. A build for a
    // deployment environment has no such file compiled in.
    static const DevelopmentTrust& shared();
    // Points the shared trust elsewhere; for tests.
    static void setShared(std::unique_ptr<DevelopmentTrust> trust);
    // The certificates in a PEM file; empty when it is missing or holds none.
    static QList<QSslCertificate> readAuthority(const QString& path);

private:
    bool m_development;
    QUrl m_developmentBase;
    QList<QSslCertificate> m_authority;
};
