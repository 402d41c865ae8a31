#include "Environment.h"

#include <QMutex>
#include <QStringList>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace {

struct EnvironmentEntry {
    Environment environment;
    const char* rawValue;
    const char* labelPrefix;
};

const EnvironmentEntry kEnvironments[] = {
    {Environment::debugDevelopment, "Debug(Development)", "Dev "},
    {Environment::releaseDevelopment, "Release(Development)", "Dev "},
    {Environment::releaseUAT, "Release(UAT)", "UAT "},
    {Environment::debugUAT, "Debug(UAT)", "UAT "},
    {Environment::debugQA, "Debug(QA)", "QA "},
    {Environment::releaseQA, "Release(QA)", "QA "},
    {Environment::debugProduction, "Debug(Production)", ""},
    {Environment::releaseProduction, "Release(Production)", ""},
    {Environment::debugDemo, "Debug(Demo)", "Demo "},
    {Environment::releaseDemo, "Release(Demo)", "Demo "},
};

const EnvironmentEntry& entry(Environment environment) {
    for (const EnvironmentEntry& e : kEnvironments)
        if (e.environment == environment)
            return e;
    return kEnvironments[0];
}

BundleInfo::ApiHosts httpsBaseURLs() {
    const BundleInfo::ApiHosts hosts = BundleInfo::apiHosts();
    const QString https = QStringLiteral("https://");
    return {https + hosts.development, https + hosts.uat, https + hosts.qa, https + hosts.production,
            https + hosts.demo};
}

#ifndef QUORVALE_DEVELOPMENT_BUILD
#error "The build names its kind: QUORVALE_DEVELOPMENT_BUILD is 1 or 0"
#endif

std::optional<QString> developmentHostFromEnvironment() {
#if QUORVALE_DEVELOPMENT_BUILD
    const QString host = qEnvironmentVariable("QUORVALE_DEV_API_HOST");
    return host.isEmpty() ? std::nullopt : std::optional(host);
#else
    // A build for a deployment environment takes its hosts from the build alone.
    return std::nullopt;
#endif
}

// "https://" + host[:port], or nothing when the text is more than a host and a port.
std::optional<QString> httpsBaseURL(const QString& hostAndPort) {
    const QString text = QStringLiteral("https://") + hostAndPort;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty() || url.hasQuery() ||
        url.hasFragment() || !url.userInfo().isEmpty())
        return std::nullopt;
    return text;
}

QMutex& sharedLock() {
    static QMutex mutex;
    return mutex;
}

std::unique_ptr<BuildConfiguration>& sharedConfiguration() {
    static std::unique_ptr<BuildConfiguration> configuration;
    return configuration;
}

QString path(const QStringList& words) {
    return QStringLiteral("/") +
           (QStringList{QStringLiteral("api"), QStringLiteral("v1")} + words).join(QLatin1Char('/'));
}

} // namespace

QString rawValue(Environment environment) {
    return QString::fromLatin1(entry(environment).rawValue);
}

std::optional<Environment> environmentFromRawValue(const QString& text) {
    for (const EnvironmentEntry& e : kEnvironments)
        if (text == QLatin1String(e.rawValue))
            return e.environment;
    return std::nullopt;
}

InvalidConfigurationError::InvalidConfigurationError(const QString& value)
    : std::runtime_error(
          QStringLiteral("The build configuration \"%1\" names no environment.").arg(value).toStdString())
    , m_value(value) {}

BuildConfiguration::BuildConfiguration()
    : BuildConfiguration(BundleInfo::infoDictionary(), httpsBaseURLs(), developmentHostFromEnvironment()) {}

BuildConfiguration::BuildConfiguration(const QVariantMap& infoDictionary, BundleInfo::ApiHosts apiBaseURLs,
                                       const std::optional<QString>& developmentHost)
    : m_apiBaseURLs(std::move(apiBaseURLs)) {
    const QVariant configuration = infoDictionary.value(QStringLiteral("Configuration"));
    if (configuration.typeId() == QMetaType::QString) {
        const auto parsed = environmentFromRawValue(configuration.toString());
        if (!parsed)
            throw InvalidConfigurationError(configuration.toString());
        environment = *parsed;
    }
    const QVariant version = infoDictionary.value(QStringLiteral("CFBundleShortVersionString"));
    if (version.typeId() == QMetaType::QString)
        m_shortVersion = version.toString();
    if (developmentHost && isDevelopment()) {
        if (const auto base = httpsBaseURL(*developmentHost))
            m_apiBaseURLs.development = *base;
        else
            std::fprintf(stderr, "QUORVALE_DEV_API_HOST \"%s\" is not a host or host:port; using %s.\n",
                         qPrintable(*developmentHost), qPrintable(m_apiBaseURLs.development));
    }
}

bool BuildConfiguration::isDevelopment() const {
    return environment == Environment::debugDevelopment || environment == Environment::releaseDevelopment;
}

QString BuildConfiguration::versionLabel() const {
    return QString::fromLatin1(entry(environment).labelPrefix) + m_shortVersion.value_or(QString());
}

QString BuildConfiguration::apiBaseURL() const {
    switch (environment) {
    case Environment::debugDevelopment:
    case Environment::releaseDevelopment:
        return m_apiBaseURLs.development;
    case Environment::releaseUAT:
    case Environment::debugUAT:
        return m_apiBaseURLs.uat;
    case Environment::debugQA:
    case Environment::releaseQA:
        return m_apiBaseURLs.qa;
    case Environment::debugProduction:
    case Environment::releaseProduction:
        return m_apiBaseURLs.production;
    case Environment::debugDemo:
    case Environment::releaseDemo:
        return m_apiBaseURLs.demo;
    }
    return m_apiBaseURLs.development;
}

BuildConfiguration& BuildConfiguration::shared() {
    QMutexLocker locker(&sharedLock());
    if (!sharedConfiguration()) {
        try {
            sharedConfiguration() = std::make_unique<BuildConfiguration>();
        } catch (const InvalidConfigurationError& e) {
            std::fprintf(stderr, "%s The application package is damaged; reinstall it.\n", e.what());
            std::exit(78); // EX_CONFIG
        }
    }
    return *sharedConfiguration();
}

void BuildConfiguration::setShared(std::unique_ptr<BuildConfiguration> configuration) {
    QMutexLocker locker(&sharedLock());
    sharedConfiguration() = std::move(configuration);
}

namespace Endpoint {

const QString& apiBase() {
    static const QString p = path({}) + QLatin1Char('/');
    return p;
}
const QString& desktopUserRegister() {
    static const QString p =
        path({QStringLiteral("desktop"), QStringLiteral("user"), QStringLiteral("register")});
    return p;
}
const QString& verifyDid() {
    static const QString p = path({QStringLiteral("verify"), QStringLiteral("did")});
    return p;
}
const QString& confirmQid() {
    static const QString p = path({QStringLiteral("confirm"), QStringLiteral("qid")});
    return p;
}
const QString& verifyValidationCode() {
    static const QString p = path({QStringLiteral("verify"), QStringLiteral("validationCode")});
    return p;
}
const QString& deviceManage() {
    static const QString p = path({QStringLiteral("device"), QStringLiteral("manage")});
    return p;
}
const QString& registrationValidate() {
    static const QString p =
        path({QStringLiteral("user"), QStringLiteral("registration"), QStringLiteral("validate")});
    return p;
}
const QString& desktopInitialize() {
    static const QString p = path({QStringLiteral("desktop"), QStringLiteral("initialize?requestType=")});
    return p;
}
const QString& desktopInitializeUsersNotExist() {
    static const QString p = desktopInitialize() + QStringLiteral("usersNotExist");
    return p;
}
QString versionQuery() {
    return desktopInitialize() + QStringLiteral("version") + QStringLiteral("&os=macOS");
}

} // namespace Endpoint
