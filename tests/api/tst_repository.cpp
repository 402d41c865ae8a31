#include "AsyncTest.h"
#include "IdentityServiceDouble.h"
#include "RecordingCrashReporter.h"
#include "api/Environment.h"
#include "api/Repository.h"
#include "networking/HttpTransport.h"
#include "networking/NetworkingClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>

class TestRepository : public QObject {
    Q_OBJECT

    IdentityServiceDouble* m_service = nullptr;
    std::unique_ptr<NetworkingClient> m_client;
    std::unique_ptr<Repository> m_repository;

    static QJsonObject bodyOf(const ReceivedRequest& request) {
        return QJsonDocument::fromJson(request.body).object();
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        NetworkingLogger::setOutput([](const QString&) {});
        RecordingCrashReporter::install();
        BundleInfo::setInfoDictionary({{"CFBundleShortVersionString", "2.3.4"}});
    }

    void init() {
        m_service = new IdentityServiceDouble(this);
        QVERIFY(m_service->start());
        const QString base = m_service->baseURL();
        BuildConfiguration::setShared(
            std::make_unique<BuildConfiguration>(QVariantMap{{"Configuration", "Debug(Development)"}},
                                                 BundleInfo::ApiHosts{base, base, base, base, base}));
        m_client = std::make_unique<NetworkingClient>(base);
        m_client->parameterEncoding = ParameterEncoding::json;
        m_client->headers.append(qMakePair(QString("X-Client"), QString("c")));
        m_repository = std::make_unique<Repository>(*m_client);
    }

    void cleanup() {
        m_repository.reset();
        m_client.reset();
        delete m_service;
    }

    void environments_data() {
        QTest::addColumn<QVariant>("configuration");
        QTest::addColumn<QString>("baseURL");
        QTest::addColumn<QString>("label");
        QTest::newRow("absent") << QVariant() << "https://dev"
                                << "Dev 2.3.4";
        QTest::newRow("not a text") << QVariant(3) << "https://dev"
                                    << "Dev 2.3.4";
        QTest::newRow("Release(UAT)") << QVariant("Release(UAT)") << "https://uat"
                                      << "UAT 2.3.4";
        QTest::newRow("Debug(QA)") << QVariant("Debug(QA)") << "https://qa"
                                   << "QA 2.3.4";
        QTest::newRow("Debug(Production)") << QVariant("Debug(Production)") << "https://prod"
                                           << "2.3.4";
        QTest::newRow("Release(Demo)") << QVariant("Release(Demo)") << "https://demo"
                                       << "Demo 2.3.4";
        QTest::newRow("Release(Development)") << QVariant("Release(Development)") << "https://dev"
                                              << "Dev 2.3.4";
    }

    void environments() {
        QFETCH(QVariant, configuration);
        QFETCH(QString, baseURL);
        QFETCH(QString, label);
        QVariantMap info{{"CFBundleShortVersionString", "2.3.4"}};
        if (configuration.isValid())
            info.insert("Configuration", configuration);
        const BuildConfiguration build(
            info, {"https://dev", "https://uat", "https://qa", "https://prod", "https://demo"});
        QCOMPARE(build.apiBaseURL(), baseURL);
        QCOMPARE(build.versionLabel(), label);
    }

    void productionWithoutVersionHasAnEmptyLabel() {
        const BuildConfiguration build({{"Configuration", "Release(Production)"}}, {});
        QCOMPARE(build.versionLabel(), QString());
    }

    void configurationNamingNoEnvironmentStops_data() {
        QTest::addColumn<QString>("configuration");
        QTest::newRow("letter case") << "release(uat)";
        QTest::newRow("unknown") << "Staging";
        QTest::newRow("empty") << "";
    }

    void configurationNamingNoEnvironmentStops() {
        QFETCH(QString, configuration);
        QVERIFY_THROWS_EXCEPTION(InvalidConfigurationError,
                                 BuildConfiguration({{"Configuration", configuration}}, {}));
    }

    void compiledInConfigurationIsDevelopment() {
        BundleInfo::setInfoDictionary({});
        const QVariantMap compiled = *plistRoot();
        QCOMPARE(compiled.value("Configuration").toString(), "Debug(Development)");
        BundleInfo::setInfoDictionary({{"CFBundleShortVersionString", "2.3.4"}});
    }

    void endpointPaths() {
        QCOMPARE(Endpoint::apiBase(), "/api/v1/");
        QCOMPARE(Endpoint::desktopUserRegister(), "/api/v1/desktop/user/register");
        QCOMPARE(Endpoint::verifyValidationCode(), "/api/v1/verify/validationCode");
        QCOMPARE(Endpoint::registrationValidate(), "/api/v1/user/registration/validate");
        QCOMPARE(Endpoint::desktopInitializeUsersNotExist(),
                 "/api/v1/desktop/initialize?requestType=usersNotExist");
        QCOMPARE(Endpoint::versionQuery(), "/api/v1/desktop/initialize?requestType=version&os=macOS");
    }

    void fetchVersionInfoPostsAnEmptyObject() {
        m_service->setReply(
            Endpoint::versionQuery(),
            ScriptedReply::json(200, R"({"resultCode":0,"version":{"min":"1.0","latest":"2.0"}})"));
        const VersionInfoResponse reply = await(m_repository->fetchVersionInfo());
        QCOMPARE(reply.version->latest, std::optional<QString>("2.0"));
        const ReceivedRequest received = m_service->lastRequest();
        QCOMPARE(received.method, "POST");
        QCOMPARE(received.route(), "/api/v1/desktop/initialize?requestType=version&os=macOS");
        QCOMPARE(received.body, QByteArray("{}"));
        QCOMPARE(received.header("x-source-app"), QByteArray("mac"));
        QCOMPARE(received.header("x-source-app-version"), QByteArray("2.3.4"));
        QCOMPARE(received.header("X-Client"), QByteArray("c"));
    }

    void callsGoToTheirRoutes_data() {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("route");
        QTest::newRow("validateUser") << 0 << "/api/v1/user/registration/validate";
        QTest::newRow("registerUser") << 1 << "/api/v1/desktop/user/register";
        QTest::newRow("manageDevice") << 2 << "/api/v1/device/manage";
        QTest::newRow("verifyDid") << 3 << "/api/v1/verify/did";
        QTest::newRow("confirmQid") << 4 << "/api/v1/confirm/qid";
        QTest::newRow("verifyValidationCode") << 5 << "/api/v1/verify/validationCode";
    }

    void callsGoToTheirRoutes() {
        QFETCH(int, operation);
        QFETCH(QString, route);
        CreateAccountRequest account;
        account.email = "a@b.c";
        account.acceptedTerms = true;
        RemoveDeviceRequest removal;
        removal.suid = "s";
        VerifyDidRequest verify;
        verify.uniqueId = "u";
        QJsonObject expected;
        switch (operation) {
        case 0:
            await(m_repository->validateUser(account));
            expected = {{"email", "a@b.c"}};
            break;
        case 1:
            await(m_repository->registerUser(account));
            expected = {{"email", "a@b.c"}};
            break;
        case 2:
            await(m_repository->manageDevice(removal));
            expected = {{"suid", "s"}};
            break;
        case 3:
            await(m_repository->verifyDid(verify));
            expected = {{"uniqueId", "u"}};
            break;
        case 4:
            await(m_repository->confirmQid(verify));
            expected = {{"uniqueId", "u"}};
            break;
        default:
            await(m_repository->verifyValidationCode(verify));
            expected = {{"uniqueId", "u"}};
        }
        const ReceivedRequest received = m_service->lastRequest();
        QCOMPARE(received.route(), route);
        QCOMPARE(bodyOf(received), expected);
        QCOMPARE(received.header("x-source-app"), QByteArray("mac"));
        QCOMPARE(received.header("Content-Type"), QByteArray("application/json"));
    }

    void failedCallReachesTheCallerUnchanged() {
        m_service->setReply(Endpoint::verifyDid(),
                            ScriptedReply::json(404, R"({"errorCode":12,"resultCode":0})"));
        const auto error = errorAs<NetworkingError>(failureOf(m_repository->verifyDid({})));
        QVERIFY(error);
        QCOMPARE(error->status, NetworkingError::Status::notFound);
        QCOMPARE(error->jsonPayload->toObject().value("errorCode").toInt(), 12);
    }

    // A call still out when its owner goes ends with it: the caller resumes, cancelled, before the owner is
    // gone, and the transport holds nothing for it. The client's calls end with the client; the users check,
    // which goes past the client, ends with the repository.
    void aCallStillOutEndsWithItsOwner_data() {
        QTest::addColumn<QString>("call");
        QTest::addColumn<bool>("endsWithTheRepository");
        QTest::newRow("version request") << "version" << false;
        QTest::newRow("approval") << "verifyDid" << false;
        QTest::newRow("users check") << "usersCheck" << true;
    }

    void aCallStillOutEndsWithItsOwner() {
        QFETCH(QString, call);
        QFETCH(bool, endsWithTheRepository);
        for (const QString& route : IdentityServiceDouble::serviceRoutes())
            m_service->setReply(route, ScriptedReply::silence());
        const int before = HttpTransport::shared().liveTransfers();
        const auto end = std::make_shared<CallEnd>();
        QCoro::Task<> running =
            call == "version"     ? follow(m_repository->fetchVersionInfo(), end)
            : call == "verifyDid" ? follow(m_repository->verifyDid({}), end)
                                  : follow(m_repository->checkNonExistingUsers({{"p", "o", "s", "z"}}), end);
        QTRY_COMPARE(m_service->received().size(), 1);
        QCOMPARE(HttpTransport::shared().liveTransfers(), before + 1);

        m_repository.reset();
        QCOMPARE(end->done, endsWithTheRepository);
        m_client.reset();
        QVERIFY2(end->done, "the call still waits for a reply nobody will take");
        const auto error = errorAs<URLError>(end->error);
        QVERIFY(error);
        QCOMPARE(error->code(), int(URLError::cancelled));
        QCOMPARE(HttpTransport::shared().liveTransfers(), before);
    }

    void usersNotExistCheck_data() {
        QTest::addColumn<int>("users");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("toDelete"); // -1: no list in the reply, -2: decoding fails
        QTest::newRow("empty list, empty reply") << 0 << 200 << QByteArray("{}") << -1;
        QTest::newRow("500 with {} decodes without error") << 1 << 500 << QByteArray("{}") << -1;
        QTest::newRow("users to delete")
            << 2 << 200 << QByteArray(R"({"nonExistingUsers":{"userToDelete":[{"zid":"z1"},{"suid":"s"}]}})")
            << 2;
        QTest::newRow("error page that is not JSON") << 1 << 502 << QByteArray("<html/>") << -2;
    }

    void usersNotExistCheck() {
        QFETCH(int, users);
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(int, toDelete);
        m_service->setReply(Endpoint::desktopInitializeUsersNotExist(), ScriptedReply::json(status, reply));
        std::vector<CurrentUser> current;
        for (int i = 0; i < users; ++i)
            current.push_back({"p", "o", "s", QString("z%1").arg(i)});

        std::optional<NonExistingUsersResponse> decoded;
        std::exception_ptr failure;
        try {
            decoded = await(m_repository->checkNonExistingUsers(current));
        } catch (...) {
            failure = std::current_exception();
        }
        if (toDelete == -2) {
            QVERIFY(errorAs<coding::DecodingError>(failure));
        } else {
            QVERIFY(decoded);
            if (toDelete == -1)
                QCOMPARE(*decoded, NonExistingUsersResponse{});
            else
                QCOMPARE(int(decoded->nonExistingUsers->userToDelete->size()), toDelete);
        }

        const ReceivedRequest received = m_service->lastRequest();
        QCOMPARE(received.method, "POST");
        QCOMPARE(received.route(), "/api/v1/desktop/initialize?requestType=usersNotExist");
        QCOMPARE(received.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!received.header("x-source-app"));
        QVERIFY(!received.header("x-source-app-version"));
        QVERIFY(!received.header("X-Client"));
        const QJsonArray sent = QJsonDocument::fromJson(received.body).array();
        QCOMPARE(sent.size(), users);
        if (users == 0)
            QCOMPARE(received.body, QByteArray("[]"));
        for (const QJsonValue& user : sent)
            QCOMPARE(user.toObject().keys(), QStringList({"orgCode", "primaryAttr", "suid", "zid"}));
    }

private:
    static std::optional<QVariantMap> plistRoot();
};

#include "platform/PropertyList.h"

std::optional<QVariantMap> TestRepository::plistRoot() {
    const auto root = plist::parse(BundleInfo::compiledPropertyList());
    if (!root)
        return std::nullopt;
    return root->toMap();
}

QTEST_GUILESS_MAIN(TestRepository)
#include "tst_repository.moc"
