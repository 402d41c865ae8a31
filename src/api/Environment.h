#pragma once

#include "platform/BundleInfo.h"

#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <stdexcept>

// The ten build environments; each chooses an API host and a version-label prefix.
enum class Environment {
    debugDevelopment,
    releaseDevelopment,
    releaseUAT,
    debugUAT,
    debugQA,
    releaseQA,
    debugProduction,
    releaseProduction,
    debugDemo,
    releaseDemo,
};

QString rawValue(Environment environment);
// Exactly one of the ten names, compared case-sensitively; nothing for any other text.
std::optional<Environment> environmentFromRawValue(const QString& rawValue);

// A "Configuration" entry that names no environment: a packaging fault.
class InvalidConfigurationError : public std::runtime_error {
public:
    explicit InvalidConfigurationError(const QString& value);
    const QString& value() const { return m_value; }

private:
    QString m_value;
};

// Which environment this build is, read once from the information dictionary.
class BuildConfiguration {
public:
    // Reads the compiled-in information dictionary; API base URLs are "https://" + the deployment's hosts.
    // A development build takes its API host from QUORVALE_DEV_API_HOST when that is set, so that a local
    // service can run on any free port.
    BuildConfiguration();
    // Reads the given dictionary; `apiBaseURLs` holds whole base URLs (scheme and host). A development
    // build with a `developmentHost` ("host" or "host:port") uses it in place of the development base URL;
    // other builds ignore it. Throws InvalidConfigurationError for a "Configuration" text that is not one of
    // the ten names.
    BuildConfiguration(const QVariantMap& infoDictionary, BundleInfo::ApiHosts apiBaseURLs,
                       const std::optional<QString>& developmentHost = std::nullopt);
    virtual ~BuildConfiguration() = default;

    Environment environment = Environment::debugDevelopment;

    // The environment's prefix followed by the short version string; never absent.
    virtual QString versionLabel() const;
    QString apiBaseURL() const;
    // Debug(Development) and Release(Development).
    bool isDevelopment() const;
    // The development environment's base URL, whatever this build's environment is.
    QString developmentBaseURL() const { return m_apiBaseURLs.development; }

    // Created on first use; a "Configuration" that names no environment stops the program there.
    static BuildConfiguration& shared();
    // Points the shared instance at another configuration; for tests, before first use.
    static void setShared(std::unique_ptr<BuildConfiguration> configuration);

private:
    std::optional<QString> m_shortVersion;
    BundleInfo::ApiHosts m_apiBaseURLs;
};

// The paths of the service's API, each built once on first use.
namespace Endpoint {
const QString& apiBase();
const QString& desktopUserRegister();
const QString& verifyDid();
const QString& confirmQid();
const QString& verifyValidationCode();
const QString& deviceManage();
const QString& registrationValidate();
const QString& desktopInitialize();
const QString& desktopInitializeUsersNotExist();
QString versionQuery();
} // namespace Endpoint
