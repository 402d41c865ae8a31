#include "DevelopmentTrust.h"

#include <QFile>
#include <QMutex>

#include <cstdio>

namespace {

int effectivePort(const QUrl& url) {
    return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
}

QMutex& sharedLock() {
    static QMutex mutex;
    return mutex;
}

std::unique_ptr<DevelopmentTrust>& sharedTrust() {
    static std::unique_ptr<DevelopmentTrust> trust;
    return trust;
}

} // namespace

DevelopmentTrust::DevelopmentTrust(const BuildConfiguration& configuration, QList<QSslCertificate> authority)
    : m_development(configuration.isDevelopment())
    , m_developmentBase(configuration.developmentBaseURL())
    , m_authority(std::move(authority)) {}

QList<QSslCertificate> DevelopmentTrust::extraTrustedRoots(const QUrl& url) const {
    if (!m_development || m_authority.isEmpty() || !m_developmentBase.isValid())
        return {};
    const bool sameHost =
        url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
        m_developmentBase.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
        url.host().compare(m_developmentBase.host(), Qt::CaseInsensitive) == 0 &&
        effectivePort(url) == effectivePort(m_developmentBase);
    return sameHost ? m_authority : QList<QSslCertificate>{};
}

SessionConfiguration DevelopmentTrust::sessionConfiguration(const QUrl& url, SessionConfiguration base) const {
    base.extraTrustedRoots.append(extraTrustedRoots(url));
    return base;
}

QList<QSslCertificate> DevelopmentTrust::readAuthority(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QSslCertificate::fromData(file.readAll(), QSsl::Pem);
}

const DevelopmentTrust& DevelopmentTrust::shared() {
    QMutexLocker locker(&sharedLock());
    if (!sharedTrust()) {
        const BuildConfiguration& configuration = BuildConfiguration::shared();
        QList<QSslCertificate> authority;
#if QUORVALE_DEVELOPMENT_BUILD
        if (configuration.isDevelopment()) {
            const QString path = QStringLiteral(QUORVALE_DEV_CA_FILE);
            authority = readAuthority(path);
            if (authority.isEmpty())
                std::fprintf(stderr, "The development certificate authority %s is missing; only the system's "
                                     "roots are trusted.\n", qPrintable(path));
        }
#endif
        sharedTrust() = std::make_unique<DevelopmentTrust>(configuration, std::move(authority));
    }
    return *sharedTrust();
}

void DevelopmentTrust::setShared(std::unique_ptr<DevelopmentTrust> trust) {
    QMutexLocker locker(&sharedLock());
    sharedTrust() = std::move(trust);
}
