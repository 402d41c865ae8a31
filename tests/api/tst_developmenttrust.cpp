// The development certificate authority: trusted by development builds for the development host only, on
// the client's calls and on the users-not-exist check alike.
#include "AsyncTest.h"
#include "IdentityServiceDouble.h"
#include "RecordingCrashReporter.h"
#include "TestCertificates.h"
#include "api/DevelopmentTrust.h"
#include "api/Environment.h"
#include "api/Repository.h"
#include "networking/NetworkingClient.h"
#include "networking/NetworkingError.h"
#include "platform/Console.h"

#include <QStandardPaths>
#include <QTest>

namespace {

const BundleInfo::ApiHosts hosts{QStringLiteral("https://127.0.0.1:8443"), QStringLiteral("https://uat.example"),
                                 QStringLiteral("https://qa.example"), QStringLiteral("https://api.example"),
                                 QStringLiteral("https://demo.example")};

BuildConfiguration configuration(const QString& environment, const std::optional<QString>& developmentHost) {
    return BuildConfiguration(QVariantMap{{"Configuration", environment}}, hosts, developmentHost);
}

} // namespace

class TestDevelopmentTrust : public QObject {
    Q_OBJECT

    std::optional<TestCertificates> m_certificates;

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        NetworkingLogger::setOutput([](const QString&) {});
        console::setSink([](const QString&) {});
        RecordingCrashReporter::install();
        QString error;
        m_certificates = TestCertificates::generate(&error);
        QVERIFY2(m_certificates, qPrintable(error));
    }

    void developmentHostFromTheEnvironment_data() {
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("developmentHost");
        QTest::addColumn<QString>("apiBaseURL");
        QTest::newRow("development, no override") << "Debug(Development)" << "" << "https://127.0.0.1:8443";
        QTest::newRow("development, other port") << "Debug(Development)" << "127.0.0.1:40123"
                                                 << "https://127.0.0.1:40123";
        QTest::newRow("release development") << "Release(Development)" << "localhost:9000"
                                             << "https://localhost:9000";
        QTest::newRow("UAT ignores it") << "Release(UAT)" << "127.0.0.1:40123" << "https://uat.example";
        QTest::newRow("production ignores it") << "Debug(Production)" << "127.0.0.1:40123" << "https://api.example";
        QTest::newRow("a path is not a host") << "Debug(Development)" << "127.0.0.1:1/x" << "https://127.0.0.1:8443";
        QTest::newRow("a user is not a host") << "Debug(Development)" << "me@evil.example"
                                              << "https://127.0.0.1:8443";
        QTest::newRow("port out of range") << "Debug(Development)" << "127.0.0.1:70000" << "https://127.0.0.1:8443";
    }

    void developmentHostFromTheEnvironment() {
        QFETCH(QString, environment);
        QFETCH(QString, developmentHost);
        QFETCH(QString, apiBaseURL);
        const auto host = developmentHost.isEmpty() ? std::nullopt : std::optional(developmentHost);
        QCOMPARE(configuration(environment, host).apiBaseURL(), apiBaseURL);
    }

    void trustedOnlyForTheDevelopmentHost_data() {
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("developmentHost");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("development host") << "Debug(Development)" << "" << "https://127.0.0.1:8443/api/v1/x" << true;
        QTest::newRow("release development") << "Release(Development)" << ""
                                             << "https://127.0.0.1:8443/api/v1/x" << true;
        QTest::newRow("moved development host") << "Debug(Development)" << "127.0.0.1:40123"
                                                << "https://127.0.0.1:40123/api/v1/x" << true;
        QTest::newRow("the old port once moved") << "Debug(Development)" << "127.0.0.1:40123"
                                                 << "https://127.0.0.1:8443/api/v1/x" << false;
        QTest::newRow("another port") << "Debug(Development)" << "" << "https://127.0.0.1:9443/x" << false;
        QTest::newRow("another host") << "Debug(Development)" << "" << "https://api.example/x" << false;
        QTest::newRow("plain http") << "Debug(Development)" << "" << "http://127.0.0.1:8443/x" << false;
        QTest::newRow("UAT build") << "Release(UAT)" << "" << "https://127.0.0.1:8443/x" << false;
        QTest::newRow("production build, its own host") << "Release(Production)" << ""
                                                        << "https://api.example/x" << false;
    }

    void trustedOnlyForTheDevelopmentHost() {
        QFETCH(QString, environment);
        QFETCH(QString, developmentHost);
        QFETCH(QString, url);
        QFETCH(bool, trusted);
        const auto host = developmentHost.isEmpty() ? std::nullopt : std::optional(developmentHost);
        const DevelopmentTrust trust(configuration(environment, host), {m_certificates->authority});
        const QList<QSslCertificate> roots = trust.extraTrustedRoots(QUrl(url));
        QCOMPARE(roots.isEmpty(), !trusted);
        if (trusted)
            QCOMPARE(roots, QList<QSslCertificate>{m_certificates->authority});
    }

    // The users-not-exist check builds its own request; it must reach the development service all the same.
    void everyCallReachesTheDevelopmentService_data() {
        QTest::addColumn<QString>("environment");
        QTest::addColumn<bool>("reached");
        QTest::newRow("development build") << "Debug(Development)" << true;
        QTest::newRow("UAT build pointed at it") << "Debug(UAT)" << false;
    }

    void everyCallReachesTheDevelopmentService() {
        QFETCH(QString, environment);
        QFETCH(bool, reached);
        IdentityServiceDouble service;
        service.useTls(m_certificates->server, m_certificates->serverKey);
        QVERIFY(service.start());
        service.setReply(QStringLiteral("/api/v1/desktop/initialize?requestType=usersNotExist"),
                         ScriptedReply::json(200, R"({"nonExistingUsers":{"userToDelete":[]}})"));
        const QString base = service.baseURL();
        const QString host = base.mid(QStringLiteral("https://").size());
        // Every environment points at the service, so only the trust decides.
        BuildConfiguration::setShared(std::make_unique<BuildConfiguration>(
            QVariantMap{{"Configuration", environment}}, BundleInfo::ApiHosts{base, base, base, base, base}, host));
        DevelopmentTrust::setShared(
            std::make_unique<DevelopmentTrust>(BuildConfiguration::shared(), QList{m_certificates->authority}));

        NetworkingClient client(BuildConfiguration::shared().apiBaseURL());
        client.parameterEncoding = ParameterEncoding::json;
        client.sessionConfiguration = DevelopmentTrust::shared().sessionConfiguration(QUrl(client.baseURL));
        Repository repository(client);

        std::optional<int> versionError;
        try {
            await(repository.fetchVersionInfo());
        } catch (const URLError& error) {
            versionError = error.code();
        }
        std::optional<int> checkError;
        try {
            const NonExistingUsersResponse reply = await(repository.checkNonExistingUsers({}));
            QVERIFY(reply.nonExistingUsers.has_value());
        } catch (const URLError& error) {
            checkError = error.code();
        }
        if (reached) {
            QCOMPARE(versionError, std::nullopt);
            QCOMPARE(checkError, std::nullopt);
            QCOMPARE(service.received().size(), 2);
        } else {
            // The certificate's authority is unknown to this build: the chain is refused (untrusted or
            // unknown root).
            const QList<int> refusals{-1202, -1203};
            QVERIFY2(versionError && refusals.contains(*versionError), "the version request got through");
            QVERIFY2(checkError && refusals.contains(*checkError), "the users-not-exist check got through");
            QCOMPARE(service.received().size(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestDevelopmentTrust)
#include "tst_developmenttrust.moc"
