// The app state against the identity service double on loopback: the start-up version request and the
// check for users the service no longer knows, through the real client and repository.
#include "app/AppViewModel.h"
#include "app/PolicyLimits.h"

#include "api/Environment.h"
#include "api/Repository.h"
#include "networking/HttpTransport.h"
#include "networking/NetworkingClient.h"
#include "platform/BundleInfo.h"
#include "platform/Console.h"
#include "platform/MemoryKeyStore.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "support/IdentityServiceDouble.h"
#include "support/ManualClock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString versionRoute = QStringLiteral("/api/v1/desktop/initialize?requestType=version&os=macOS");
const QString usersNotExistRoute = QStringLiteral("/api/v1/desktop/initialize?requestType=usersNotExist");

AuthResponse user(const QString& zid) {
    AuthResponse record;
    record.zid = zid;
    record.suid = QStringLiteral("suid-") + zid;
    record.email = QStringLiteral("someone@org.test");
    record.primaryAttr = QStringLiteral("attr-") + zid;
    record.pin = QStringLiteral("0F0F");
    return record;
}

} // namespace

class AppServiceTest : public QObject {
    Q_OBJECT

private:
    CoreDataManager& store() { return CoreDataManager::shared(); }

    // The state object as the program makes it; its start-up requests go out once the event loop runs.
    std::unique_ptr<AppViewModel> startApp() {
        auto model = std::make_unique<AppViewModel>(m_repository.get());
        model->setTestMode(true);
        m_loading.clear();
        m_loadingToken = model->isLoading.sink([this](bool loading) { m_loading.append(loading); });
        return model;
    }

    // Every request sent so far has been answered and handed over, and what that queued has run. Start-up
    // queues both requests at once, so by then a check that was going to go has gone.
    static bool settleRequests() {
        const bool answered = QTest::qWaitFor([] { return HttpTransport::shared().liveTransfers() == 0; });
        for (int i = 0; i < 5; ++i)
            QCoreApplication::sendPostedEvents();
        return answered;
    }

    // True once the users-not-exist check has come back: the loading state went up and down again.
    bool usersCheckSettled() const { return m_loading.size() >= 3 && !m_loading.last(); }

    QTemporaryDir m_dir;
    IdentityServiceDouble m_service;
    std::unique_ptr<NetworkingClient> m_client;
    std::unique_ptr<Repository> m_repository;
    std::shared_ptr<MemoryKeyStore> m_keys = std::make_shared<MemoryKeyStore>();
    QList<bool> m_loading;
    rx::AnyCancellable m_loadingToken;

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        console::setSink([](const QString&) {});
        QVERIFY(m_dir.isValid());
        PersistentContainer::Options options;
        options.storePath = m_dir.filePath(QStringLiteral("QVModel.sqlite"));
        QVERIFY(CoreDataManager::configure(options));
        KeyChain::setKeyStore(m_keys);
        QVERIFY(m_service.start());
        const QString base = m_service.baseURL();
        BuildConfiguration::setShared(std::make_unique<BuildConfiguration>(
            BundleInfo::infoDictionary(), BundleInfo::ApiHosts{base, base, base, base, base}));
        m_client = std::make_unique<NetworkingClient>(BuildConfiguration::shared().apiBaseURL());
        m_client->parameterEncoding = ParameterEncoding::json;
        m_repository = std::make_unique<Repository>(*m_client);
    }

    void init() {
        policy::resetToDefaults();
        store().deleteAllUsers();
        store().saveLastLoginDate(QDateTime::currentDateTime());
        m_service.clearReceived();
        m_service.setReply(versionRoute, ScriptedReply::json(200, "{}"));
        m_service.setReply(usersNotExistRoute, ScriptedReply::json(200, "{}"));
    }

    void cleanupTestCase() { console::setSink({}); }

    void startupAppliesTheVersionReply() {
        m_service.setReply(versionRoute,
                           ScriptedReply::json(200, R"({"version":{"min":"1.0","latest":"1.2.10"},
            "desktopConfig":{"maxLoginAttempts":"4","desktopIdleSession":"abc","lockoutDurationMinutes":"+7"}})"));
        auto model = startApp();
        QTRY_VERIFY(model->versionInfo.get().has_value());
        QCOMPARE(m_service.received().first().body, QByteArray("{}"));
        QCOMPARE(model->versionInfo.get(),
                 std::optional(VersionInfo{QStringLiteral("1.0"), QStringLiteral("1.2.10")}));
        QVERIFY(model->configInfo.get().has_value());
        QCOMPARE(policy::maxLoginAttempts, 4);
        QCOMPARE(policy::desktopIdleSession, 2);
        QCOMPARE(policy::lockoutDurationMinutes, 7);
        QCOMPARE(model->appConfigState.get(), std::optional(LaunchConfigurationState::loading));
    }

    void failedVersionRequestKeepsTheLimits() {
        policy::PolicyTexts earlier;
        earlier.maxLoginAttempts = QStringLiteral("6");
        policy::applyPolicyTexts(earlier);
        m_service.setReply(versionRoute,
                           ScriptedReply::json(500, R"({"desktopConfig":{"maxLoginAttempts":"9"}})"));
        auto model = startApp();
        QTRY_COMPARE(m_service.received().size(), 1);
        // Nothing shows the failure: wait until the reply has been handed over, and what it queued has run.
        QVERIFY(settleRequests());
        QCOMPARE(policy::maxLoginAttempts, 6);
        QCOMPARE(model->versionInfo.get(), std::optional<VersionInfo>());
    }

    void usersNotExistReplyRemovesTheNamedUser() {
        const AuthResponse gone = user(QStringLiteral("z-gone"));
        const AuthResponse kept = user(QStringLiteral("z-kept"));
        store().saveAuthResponse(gone);
        store().saveAuthResponse(kept);
        const QString goneTag = *gone.primaryAttr + QStringLiteral("||") + *gone.pin;
        QVERIFY(KeyChain::getOrCreateKeyPair(goneTag).has_value());
        m_service.setReply(
            usersNotExistRoute,
            ScriptedReply::json(200, R"({"nonExistingUsers":{"userToDelete":[{"zid":"z-gone"}]}})"));
        auto model = startApp();
        QTRY_VERIFY(usersCheckSettled());
        QTRY_VERIFY(model->isRemoveUser.get());

        ReceivedRequest check;
        for (const ReceivedRequest& request : m_service.received())
            if (request.route() == usersNotExistRoute)
                check = request;
        const QJsonArray sent = QJsonDocument::fromJson(check.body).array();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0].toObject().keys(), (QStringList{"orgCode", "primaryAttr", "suid", "zid"}));
        QCOMPARE(sent[0].toObject().value("orgCode").toString(), QString(""));

        QTRY_COMPARE(m_keys->count(goneTag), 0);
        const auto& users = *model->userDetailsList.get();
        QCOMPARE(users.size(), size_t(1));
        QCOMPARE(users[0].zid, kept.zid);
        QVERIFY(model->isRemoveUser.get());
        QVERIFY(!model->isLoading.get());
        QCOMPARE(model->currentTab.get(), TabType::login);
    }

    void removingTheLastUserShowsRegistration() {
        store().saveAuthResponse(user(QStringLiteral("z1")));
        m_service.setReply(
            usersNotExistRoute,
            ScriptedReply::json(200, R"({"nonExistingUsers":{"userToDelete":[{"zid":"z1"}]}})"));
        auto model = startApp();
        QTRY_VERIFY(model->isRemoveUser.get());
        QVERIFY(model->userDetailsList.get()->empty());
        QCOMPARE(model->tabs.get(), loggedOutTabs);
        QCOMPARE(model->currentTab.get(), TabType::newRegisteration);
    }

    void failedUsersCheckOnlyEndsLoading() {
        store().saveAuthResponse(user(QStringLiteral("z1")));
        m_service.setReply(usersNotExistRoute, {500, "<html>down</html>", "text/html", false});
        auto model = startApp();
        QTRY_VERIFY(usersCheckSettled());
        QTest::qWait(50);
        QVERIFY(!model->isRemoveUser.get());
        QCOMPARE(model->userDetailsList.get()->size(), size_t(1));
    }

    // A logout covers the window for two seconds. The users check that it starts ends only its own share of
    // that busy state, and so does a flow's request that ends meanwhile: the overlay goes when all are done.
    void theLogoutOverlayHoldsItsTwoSeconds_data() {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("the users check answers") << "answer";
        QTest::newRow("the users check fails") << "failure";
        QTest::newRow("a flow's request ends as well") << "flow";
    }
    void theLogoutOverlayHoldsItsTwoSeconds() {
        QFETCH(QString, meanwhile);
        const AuthResponse signedIn = user(QStringLiteral("z1"));
        store().saveAuthResponse(signedIn);
        m_service.setReply(usersNotExistRoute,
                           meanwhile == "failure"
                               ? ScriptedReply{500, "<html>down</html>", "text/html", false}
                               : ScriptedReply::json(200, R"({"nonExistingUsers":{"userToDelete":[]}})"));
        const auto usersChecks = [&] {
            return std::count_if(
                m_service.received().begin(), m_service.received().end(),
                [](const ReceivedRequest& request) { return request.route() == usersNotExistRoute; });
        };
        ManualClock clock;
        AppViewModel model(m_repository.get(), clock);
        model.setTestMode(true);
        QTRY_COMPARE(usersChecks(), 1);
        QTRY_VERIFY(!model.isLoading.get());
        model.isRemoveUser = false;

        model.authDetails = signedIn;
        model.markSignedIn();
        model.logout();
        QTRY_COMPARE(usersChecks(), 2);
        QVERIFY(model.isLoading.get());
        if (meanwhile == "failure")
            QVERIFY(settleRequests());
        else
            QTRY_VERIFY(model.isRemoveUser.get()); // the reply has been taken in
        if (meanwhile == "flow") {
            model.isLoading = true;
            model.isLoading = false;
        }
        for (int i = 0; i < 5; ++i)
            QCoreApplication::sendPostedEvents();
        QVERIFY2(model.isLoading.get(), "the overlay went before the logout's two seconds");
        clock.advance(std::chrono::milliseconds(1999));
        QVERIFY(model.isLoading.get());
        clock.advance(std::chrono::milliseconds(1));
        QVERIFY(!model.isLoading.get());
        QVERIFY(!model.isLogout.get());
    }

    // The program's app state goes before its repository and client; should they go first, the start-up
    // requests they cancel still print nothing and remove no user, and the check's share of the busy state
    // ends.
    void startUpRequestsCancelledUnderALiveAppStateChangeNothing() {
        store().saveAuthResponse(user(QStringLiteral("z1")));
        m_service.setReply(versionRoute, ScriptedReply::silence());
        m_service.setReply(usersNotExistRoute, ScriptedReply::silence());
        auto client = std::make_unique<NetworkingClient>(BuildConfiguration::shared().apiBaseURL());
        client->parameterEncoding = ParameterEncoding::json;
        auto repository = std::make_unique<Repository>(*client);
        QStringList printed;
        console::setSink([&printed](const QString& line) { printed << line; });
        const auto quiet = qScopeGuard([] { console::setSink([](const QString&) {}); });
        const int before = HttpTransport::shared().liveTransfers();
        ManualClock clock;
        AppViewModel model(repository.get(), clock);
        model.setTestMode(true);
        QTRY_COMPARE(m_service.received().size(), 2);
        QTRY_VERIFY(model.isLoading.get());
        QCOMPARE(HttpTransport::shared().liveTransfers(), before + 2);
        printed.clear();

        repository.reset();
        client.reset();
        QCOMPARE(HttpTransport::shared().liveTransfers(), before);
        QTRY_VERIFY(!model.isLoading.get());
        QCOMPARE(printed, QStringList());
        QCOMPARE(model.userDetailsList.get()->size(), size_t(1));
        QCOMPARE(store().readAuthResponses().value_or(std::vector<AuthResponse>{}).size(), size_t(1));
        QVERIFY(!model.isRemoveUser.get());
    }

    void noStoredUsersSendsNoCheck() {
        auto model = startApp();
        QTRY_VERIFY(model->configInfo.get().has_value() || !m_service.received().isEmpty());
        QVERIFY(settleRequests());
        QCOMPARE(m_service.received().size(), 1);
        QCOMPARE(m_service.lastRequest().route(), versionRoute);
    }
};

QTEST_GUILESS_MAIN(AppServiceTest)
#include "tst_appservice.moc"
