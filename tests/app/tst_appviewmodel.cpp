#include "app/AppViewModel.h"
#include "app/PolicyLimits.h"

#include "api/Environment.h"
#include "platform/BundleInfo.h"
#include "platform/Console.h"
#include "platform/MemoryKeyStore.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "support/ManualClock.h"
#include "support/RecordingWindowController.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <sys/prctl.h>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(TabType)
Q_DECLARE_METATYPE(std::optional<DesktopConfig>)
Q_DECLARE_METATYPE(Environment)
Q_DECLARE_METATYPE(std::optional<LaunchConfigurationState>)

namespace {

AuthResponse user(const QString& zid, const QString& suid,
                  const QString& email = QStringLiteral("a@org.test")) {
    AuthResponse record;
    record.zid = zid;
    record.suid = suid;
    record.email = email;
    record.orgCode = QStringLiteral("ORG");
    record.primaryAttr = QStringLiteral("attr-") + zid;
    record.pin = QStringLiteral("A1B2");
    return record;
}

QString keyTag(const AuthResponse& record) {
    return *record.primaryAttr + QStringLiteral("||") + *record.pin;
}

const QString signedMessage = QStringLiteral("s1||z1||ABC123");

// `record` naming a key of its own, made under its tag.
AuthResponse withNamedKey(AuthResponse record) {
    const QString tag = keyTag(record);
    const std::optional<KeyChain::KeyPair> pair = KeyChain::getOrCreateKeyPair(tag);
    if (pair) {
        record.keyTag = tag;
        record.keyIdentity = KeyChain::keyIdentity(pair->publicKey);
    }
    return record;
}

// Runs everything queued on the event loop so far, and what that queues in turn.
void drainEventLoop() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

} // namespace

// Stands in for the desktop's handler of https links.
class LinkReceiver : public QObject {
    Q_OBJECT

public:
    QList<QUrl> links;

public slots:
    void open(const QUrl& url) { links.append(url); }
};

class AppViewModelTest : public QObject {
    Q_OBJECT

private:
    CoreDataManager& store() { return CoreDataManager::shared(); }

    std::unique_ptr<AppViewModel> makeModel() {
        auto model = std::make_unique<AppViewModel>(nullptr, *m_clock);
        model->setTestMode(true);
        model->setWindowController(&m_windows);
        return model;
    }

    void signIn(AppViewModel& model, const AuthResponse& record) {
        model.authDetails = record;
        model.markSignedIn();
        model.tabs = loggedInTabs;
        model.currentTab = TabType::homeScreen;
    }

    QTemporaryDir m_dir;
    std::shared_ptr<MemoryKeyStore> m_keys = std::make_shared<MemoryKeyStore>();
    std::unique_ptr<ManualClock> m_clock;
    RecordingWindowController m_windows;
    QStringList m_lines;

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        PersistentContainer::Options options;
        options.storePath = m_dir.filePath(QStringLiteral("QVModel.sqlite"));
        QVERIFY(CoreDataManager::configure(options));
        KeyChain::setKeyStore(m_keys);
        console::setSink([this](const QString& line) { m_lines.append(line); });
    }

    void init() {
        m_clock = std::make_unique<ManualClock>();
        m_windows = RecordingWindowController();
        m_lines.clear();
        policy::resetToDefaults();
        store().deleteAllUsers();
        store().saveLastLoginDate(m_clock->now());
    }

    void cleanupTestCase() { console::setSink({}); }

    void emptyStoreShowsRegistration() {
        auto model = makeModel();
        QVERIFY(model->userDetailsList.get().has_value());
        QVERIFY(model->userDetailsList.get()->empty());
        QCOMPARE(model->tabs.get(), loggedOutTabs);
        QCOMPARE(model->currentTab.get(), TabType::newRegisteration);
    }

    void duplicatesKeepTheFirstOfEachZid() {
        AuthResponse first = user(QStringLiteral("z1"), QStringLiteral("s-first"));
        AuthResponse second = user(QStringLiteral("z1"), QStringLiteral("s-second"));
        AuthResponse other = user(QStringLiteral("z2"), QStringLiteral("s-other"));
        store().saveAuthResponse(first);
        store().saveAuthResponse(second);
        store().saveAuthResponse(other);
        auto model = makeModel();
        const auto& users = *model->userDetailsList.get();
        QCOMPARE(users.size(), size_t(2));
        QCOMPARE(users[0].suid, first.suid);
        QCOMPARE(users[1].suid, other.suid);
        QCOMPARE(store().readAuthResponses().value_or(std::vector<AuthResponse>{}).size(), size_t(3));
        QCOMPARE(model->currentTab.get(), TabType::login);
    }

    void usersWithoutZidCountAsOne() {
        AuthResponse a = user(QString(), QStringLiteral("s-a"));
        AuthResponse b = user(QString(), QStringLiteral("s-b"));
        a.zid.reset();
        b.zid.reset();
        QCOMPARE(AppViewModel(nullptr, *m_clock).removeDuplicateUsers({a, b}).size(), size_t(1));
    }

    // The unlock screen sets authDetails before the PIN is checked; that alone is no session to end.
    void logoutWithNobodySignedInChangesNothing() {
        store().saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("s1")));
        auto model = makeModel();
        model->authDetails = user(QStringLiteral("z1"), QStringLiteral("s1"));
        model->currentTab = TabType::newRegisteration;
        drainEventLoop();
        m_lines.clear();
        model->logout();
        drainEventLoop();
        QCOMPARE(m_lines, QStringList{QStringLiteral("\"log out\"")});
        QCOMPARE(model->currentTab.get(), TabType::newRegisteration);
        QCOMPARE(model->isLoading.get(), false);
        QCOMPARE(model->isLogout.get(), false);
    }

    // Regression: a wrong PIN followed by two idle minutes pulled the user off the registration screen.
    void idleTimerLeavesAnUnsignedUserAlone() {
        store().saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("s1")));
        auto model = makeModel();
        model->authDetails = user(QStringLiteral("z1"), QStringLiteral("s1"));
        model->currentTab = TabType::newRegisteration;
        drainEventLoop();
        model->restartIdleTimer();
        m_clock->advance(2min);
        drainEventLoop();
        QCOMPARE(model->currentTab.get(), TabType::newRegisteration);
        QCOMPARE(model->isLoading.get(), false);
    }

    // The idle logout belongs to a session: once it is over, or before there is one, nothing is left to
    // fire, whatever activity comes.
    void noIdleLogoutWaitsWithoutASession_data() {
        QTest::addColumn<bool>("signInFirst");
        QTest::addColumn<bool>("activityAfter");
        QTest::newRow("logged out before the idle time") << true << false;
        QTest::newRow("activity after a logout") << true << true;
        QTest::newRow("activity before any unlock") << false << true;
    }
    void noIdleLogoutWaitsWithoutASession() {
        QFETCH(bool, signInFirst);
        QFETCH(bool, activityAfter);
        const AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        store().saveAuthResponse(record);
        auto model = makeModel();
        if (signInFirst) {
            signIn(*model, record);
            m_clock->advance(30s);
            model->logout();
            drainEventLoop();
            m_clock->advance(2s);
        }
        if (activityAfter)
            model->restartIdleTimer();
        drainEventLoop();
        m_lines.clear();
        QCOMPARE(m_clock->pendingCount(), 0);
        m_clock->advance(10min);
        drainEventLoop();
        QCOMPARE(m_lines, QStringList());
    }

    void logoutSelectsTabAndSettlesAfterTwoSeconds_data() {
        QTest::addColumn<bool>("usersStored");
        QTest::addColumn<TabType>("expectedTab");
        QTest::newRow("users stored") << true << TabType::login;
        QTest::newRow("nobody stored") << false << TabType::newRegisteration;
    }
    void logoutSelectsTabAndSettlesAfterTwoSeconds() {
        QFETCH(bool, usersStored);
        QFETCH(TabType, expectedTab);
        const AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        if (usersStored)
            store().saveAuthResponse(record);
        auto model = makeModel();
        signIn(*model, record);
        if (!usersStored) {
            store().deleteAllUsers();
            model->userDetailsList = std::vector<AuthResponse>{};
        }
        drainEventLoop();

        model->logout();
        // The caller sees nothing change before it returns to the event loop.
        QCOMPARE(model->isLoading.get(), false);
        QCOMPARE(model->currentTab.get(), TabType::homeScreen);
        QVERIFY(!model->isSignedIn());
        drainEventLoop();
        QCOMPARE(model->isLoading.get(), true);
        QCOMPARE(model->isLogout.get(), true);
        QCOMPARE(model->tabs.get(), loggedOutTabs);
        QCOMPARE(model->currentTab.get(), expectedTab);
        QCOMPARE(model->authDetails.get(), std::optional(record));

        m_clock->advance(1999ms);
        QCOMPARE(model->isLoading.get(), true);
        QCOMPARE(model->isLogout.get(), true);
        m_clock->advance(1ms);
        QCOMPARE(model->isLoading.get(), false);
        QCOMPARE(model->isLogout.get(), false);

        // The session has ended: a second logout is a no-op.
        model->currentTab = TabType::help;
        drainEventLoop();
        model->logout();
        drainEventLoop();
        QCOMPARE(model->isLoading.get(), false);
    }

    void versionReplyAppliesPolicy_data() {
        QTest::addColumn<std::optional<DesktopConfig>>("config");
        QTest::addColumn<QList<qint64>>(
            "expected"); // maxLogin, maxRemove, forceLogout, lockout, idle, inactivity
        QTest::newRow("no desktopConfig")
            << std::optional<DesktopConfig>() << QList<qint64>{3, 5, 2, 30, 2, 30};
        DesktopConfig odd;
        odd.maxLoginAttempts = QStringLiteral("abc");
        odd.maxRemoveAccountLoginAttempts = QStringLiteral("+7");
        odd.lockoutDurationMinutes = QStringLiteral("-1");
        odd.desktopIdleSession = QStringLiteral("5");
        odd.desktopUserInActivityThreshold = QStringLiteral("");
        odd.desktopForceLogout = QStringLiteral("4");
        QTest::newRow("odd texts") << std::optional(odd) << QList<qint64>{3, 7, 4, -1, 5, 30};
    }
    void versionReplyAppliesPolicy() {
        QFETCH(std::optional<DesktopConfig>, config);
        QFETCH(QList<qint64>, expected);
        policy::applyPolicyTexts({QStringLiteral("9"), QStringLiteral("9"), QStringLiteral("9"),
                                  QStringLiteral("9"), QStringLiteral("9"), QStringLiteral("9")});
        auto model = makeModel();
        VersionInfoResponse reply;
        reply.desktopConfig = config;
        model->handleVersionResponse(reply);
        QCOMPARE(model->configInfo.get(), config);
        const QList<qint64> limits{policy::maxLoginAttempts,   policy::maxRemoveAccountLoginAttempts,
                                   policy::desktopForceLogout, policy::lockoutDurationMinutes,
                                   policy::desktopIdleSession, policy::desktopUserInActivityThreshold};
        QCOMPARE(limits, expected);
    }

    void updateCheck_data() {
        QTest::addColumn<QString>("min");
        QTest::addColumn<Environment>("environment");
        QTest::addColumn<bool>("testMode");
        QTest::addColumn<std::optional<LaunchConfigurationState>>("expected");
        QTest::newRow("newer version") << "1.0" << Environment::debugDevelopment << false
                                       << std::optional(LaunchConfigurationState::normalUpdate);
        QTest::newRow("below minimum") << "1.2.10" << Environment::releaseProduction << false
                                       << std::optional(LaunchConfigurationState::forceUpgrade);
        QTest::newRow("ungated environment") << "1.2.10" << Environment::debugProduction << false
                                             << std::optional(LaunchConfigurationState::loading);
        QTest::newRow("test mode") << "1.2.10" << Environment::releaseProduction << true
                                   << std::optional(LaunchConfigurationState::loading);
    }
    void updateCheck() {
        QFETCH(QString, min);
        QFETCH(Environment, environment);
        QFETCH(bool, testMode);
        QFETCH(std::optional<LaunchConfigurationState>, expected);
        QVariantMap info = BundleInfo::infoDictionary();
        info.insert(QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.2.9"));
        BundleInfo::setInfoDictionary(info);
        BuildConfiguration::shared().environment = environment;
        auto model = makeModel();
        model->setTestMode(testMode);
        VersionInfoResponse reply;
        reply.version = VersionInfo{min, QStringLiteral("1.2.10")};
        model->handleVersionResponse(reply);
        QCOMPARE(model->appConfigState.get(), expected);
        QCOMPARE(model->versionInfo.get(), reply.version);
    }

    void inactivityWipesFromThreshold_data() {
        QTest::addColumn<int>("daysAgo");
        QTest::addColumn<bool>("wiped");
        QTest::newRow("29 days") << 29 << false;
        QTest::newRow("30 days") << 30 << true;
        QTest::newRow("30 days ahead") << -30 << true;
        QTest::newRow("30 days less a minute") << 30 << false;
    }
    void inactivityWipesFromThreshold() {
        QFETCH(int, daysAgo);
        QFETCH(bool, wiped);
        QDateTime lastLogin = m_clock->now().addDays(-daysAgo);
        if (QByteArray(QTest::currentDataTag()).contains("less a minute"))
            lastLogin = lastLogin.addSecs(60);
        store().saveLastLoginDate(lastLogin);
        store().saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("s1")));
        auto model = makeModel();
        QCOMPARE(model->userDetailsList.get()->empty(), wiped);
        QCOMPARE(store().readAuthResponses().value_or(std::vector<AuthResponse>{}).empty(), wiped);
        // Nobody left to unlock: the window must offer the registration.
        QCOMPARE(model->currentTab.get(), wiped ? TabType::newRegisteration : TabType::login);
    }

    void firstRunWipeShowsRegistration() {
        store().saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("s1")));
        auto model = makeModel();
        QCOMPARE(model->currentTab.get(), TabType::login);
        model->wipeAllUsers();
        QVERIFY(model->userDetailsList.get()->empty());
        QCOMPARE(model->tabs.get(), loggedOutTabs);
        QCOMPARE(model->currentTab.get(), TabType::newRegisteration);
    }

    void removalReplyRemovesUserAndKey() {
        const AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        store().saveAuthResponse(record);
        const QString tag = *record.primaryAttr + QStringLiteral("||") + *record.pin;
        QVERIFY(KeyChain::getOrCreateKeyPair(tag).has_value());
        QCOMPARE(m_keys->count(tag), 1);
        auto model = makeModel();
        UserToDelete unnamed;
        UserToDelete listed;
        listed.zid = record.zid;
        model->removeStoredUsers({unnamed, listed});
        QTRY_COMPARE(m_keys->count(tag), 0);
        QVERIFY(store().readAuthResponses().value_or(std::vector<AuthResponse>{}).empty());
        drainEventLoop();
        QVERIFY(model->isRemoveUser.get());
        QVERIFY(model->userDetailsList.get()->empty());
        QCOMPARE(model->tabs.get(), loggedOutTabs);
        QCOMPARE(model->currentTab.get(), TabType::newRegisteration);
    }

    void emptyRemovalListStillReloads() {
        store().saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("s1")));
        auto model = makeModel();
        model->removeStoredUsers({});
        drainEventLoop();
        QVERIFY(model->isRemoveUser.get());
        QCOMPARE(model->userDetailsList.get()->size(), size_t(1));
        QCOMPARE(model->currentTab.get(), TabType::login);
    }

    void mouseMovementAfterMinimisingCancelsBackgroundLogout() {
        const AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        store().saveAuthResponse(record);
        auto model = makeModel();
        signIn(*model, record);
        model->minimiseWindow();
        QCOMPARE(m_windows.calls, QStringList{QStringLiteral("miniaturize")});
        QVERIFY(model->windowMinimized.get());
        m_clock->advance(60s);
        model->restartIdleTimer();
        m_clock->advance(61s);
        drainEventLoop();
        QVERIFY(model->isSignedIn());
        QVERIFY(!m_lines.contains(QStringLiteral("Timer fired!")));
        // The idle timer started by the movement still ends the session in its own time.
        m_clock->advance(60s);
        drainEventLoop();
        QVERIFY(!model->isSignedIn());
        QCOMPARE(m_windows.calls, QStringList{QStringLiteral("miniaturize")});
    }

    void backgroundTimerLogsOutAndRestoresWindow() {
        const AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        store().saveAuthResponse(record);
        auto model = makeModel();
        signIn(*model, record);
        VersionInfoResponse reply;
        reply.desktopConfig = DesktopConfig{};
        reply.desktopConfig->desktopIdleSession = QStringLiteral("5");
        model->handleVersionResponse(reply);
        model->minimiseWindow();
        QCOMPARE(m_clock->lastPendingInterval(), std::optional<std::chrono::milliseconds>(300s));
        m_clock->advance(300s);
        drainEventLoop();
        QVERIFY(m_lines.contains(QStringLiteral("Timer fired!")));
        QVERIFY(!model->isSignedIn());
        QCOMPARE(model->currentTab.get(), TabType::login);
        QVERIFY(!model->windowMinimized.get());
        QCOMPARE(m_windows.calls, (QStringList{QStringLiteral("miniaturize"), QStringLiteral("restore")}));
    }

    // Regression: the idle timer, started by the last mouse movement before the approval, ended the session
    // first and the window then stayed minimised for good.
    void backgroundTimerRestoresWindowAfterIdleLogout() {
        const AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        store().saveAuthResponse(record);
        auto model = makeModel();
        signIn(*model, record);
        model->restartIdleTimer();
        m_clock->advance(10s);
        model->minimiseWindow();
        m_clock->advance(110s);
        drainEventLoop();
        QVERIFY(!model->isSignedIn());
        QVERIFY(model->windowMinimized.get());
        m_clock->advance(10s);
        drainEventLoop();
        QVERIFY(m_lines.contains(QStringLiteral("Timer fired!")));
        QVERIFY(!model->windowMinimized.get());
        QCOMPARE(m_windows.calls, (QStringList{QStringLiteral("miniaturize"), QStringLiteral("restore")}));
    }

    void minimisingWithoutKeyWindowDoesNothing() {
        auto model = makeModel();
        m_windows.hasKeyWindow = false;
        model->minimiseWindow();
        QVERIFY(!model->windowMinimized.get());
        QCOMPARE(m_clock->pendingCount(), 0);
    }

    void focusRequestsLandInOrderAfterTheCallerReturns() {
        auto model = makeModel();
        drainEventLoop();
        model->setFocusedField(Field::regOrgEmail);
        model->setFocusedField(Field::agreeTerms);
        QCOMPARE(model->focusedFieldPublisher.get(), std::optional<Field>());
        drainEventLoop();
        QCOMPARE(model->focusedFieldPublisher.get(), std::optional(Field::agreeTerms));
    }

    void inPlaceChangeOfTheUserIsStoredOnce() {
        const AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        store().saveAuthResponse(record);
        auto model = makeModel();
        model->authDetails = record;
        int deliveries = 0;
        auto token = model->authDetails.sink([&](const std::optional<AuthResponse>&) { ++deliveries; });
        model->authDetails.modify([](std::optional<AuthResponse>& current) {
            current->invalidAttemptCount = 2;
            current->lockedTimeStamp = QDateTime::fromSecsSinceEpoch(1700000000);
        });
        QCOMPARE(deliveries, 2); // the current value on subscription, then the change
        const auto stored = store().readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(stored.size(), size_t(1));
        QCOMPARE(stored[0].invalidAttemptCount, std::optional<qint64>(2));
        QCOMPARE(model->userDetailsList.get()->at(0).invalidAttemptCount, std::optional<qint64>(2));
    }

    void userWithoutSuidIsNotStored() {
        auto model = makeModel();
        AuthResponse record = user(QStringLiteral("z9"), QString());
        record.suid.reset();
        model->authDetails = record;
        QVERIFY(store().readAuthResponses().value_or(std::vector<AuthResponse>{}).empty());
        QVERIFY(model->userDetailsList.get()->empty());
    }

    // Once the app runs, a crash writes no core file and no other process attaches to read its memory.
    void theProcessKeepsItsMemoryToItself() {
        auto model = makeModel();
        QCOMPARE(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
    }

    // A user the store failed to delete is still enrolled and keeps the key that signs for them; so does
    // another stored user whose record names the same tag (the same person and PIN in another organisation).
    void removingAUserKeepsAKeyStillOwned_data() {
        QTest::addColumn<bool>("storeRefuses");
        QTest::newRow("the store keeps the user") << true;
        QTest::newRow("another stored user's tag") << false;
    }

    void removingAUserKeepsAKeyStillOwned() {
        QFETCH(bool, storeRefuses);
        const AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        store().saveAuthResponse(record);
        if (!storeRefuses) {
            AuthResponse sameTag = user(QStringLiteral("z2"), QStringLiteral("s2"));
            sameTag.orgCode = QStringLiteral("ORG2");
            sameTag.primaryAttr = record.primaryAttr;
            store().saveAuthResponse(sameTag);
        }
        const QString tag = keyTag(record);
        m_keys->remove(tag, KeyStore::anyItem);
        QVERIFY(KeyChain::getOrCreateKeyPair(tag).has_value());
        auto model = makeModel();
        signIn(*model, record);
        QSqlDatabase db = store().persistentContainer().database();
        if (storeRefuses)
            QVERIFY(QSqlQuery(db).exec(
                QStringLiteral("CREATE TEMP TRIGGER refuseDelete BEFORE DELETE ON QVUserEntity "
                               "BEGIN SELECT RAISE(ABORT, 'disk refused'); END")));
        model->removeCurrentUser();
        if (storeRefuses)
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("DROP TRIGGER refuseDelete")));
        drainEventLoop();
        QCOMPARE(store().readAuthResponses().value_or(std::vector<AuthResponse>{}).size(), size_t(1));
        QCOMPARE(m_keys->count(tag), 1);
    }

    void removeCurrentUserWithoutPinOnlyLogsOut() {
        AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        record.pin.reset();
        store().saveAuthResponse(record);
        auto model = makeModel();
        signIn(*model, record);
        model->removeCurrentUser();
        drainEventLoop();
        QCOMPARE(store().readAuthResponses().value_or(std::vector<AuthResponse>{}).size(), size_t(1));
        QVERIFY(!model->isSignedIn());
        QCOMPARE(model->currentTab.get(), TabType::login);
    }

    // A user locked out for good on the unlock screen was never signed in; with nobody left the window
    // must still move to the registration.
    void removingTheLastLockedOutUserShowsRegistration() {
        const AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        store().saveAuthResponse(record);
        auto model = makeModel();
        model->authDetails = record;
        model->removeCurrentUser();
        drainEventLoop();
        QVERIFY(store().readAuthResponses().value_or(std::vector<AuthResponse>{}).empty());
        QCOMPARE(model->currentTab.get(), TabType::newRegisteration);
        QCOMPARE(model->tabs.get(), loggedOutTabs);
    }

    // The guide opens through the window shell, or without one through the desktop's own URL handler.
    void helpTabOpensGuideAndReturnsToLogin_data() {
        QTest::addColumn<bool>("windowShell");
        QTest::newRow("through the window shell") << true;
        QTest::newRow("without a window shell") << false;
    }
    void helpTabOpensGuideAndReturnsToLogin() {
        QFETCH(bool, windowShell);
        store().saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("s1")));
        LinkReceiver desktop;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &desktop, "open");
        auto model = makeModel();
        if (!windowShell)
            model->setWindowController(nullptr);
        model->currentTab = TabType::help;
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        const QList<QUrl>& opened = windowShell ? m_windows.openedLinks : desktop.links;
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0].scheme(), QStringLiteral("https"));
        QCOMPARE(m_windows.openedLinks.size() + desktop.links.size(), 1);
        QCOMPARE(model->currentTab.get(), TabType::help);
        drainEventLoop();
        QCOMPARE(model->currentTab.get(), TabType::login);
    }

    // What ends the session, or changes the signed-in user's key under it, drops the loaded key: the next
    // signature reads the key store again and signs with what the store holds now.
    void signingKeyIsDroppedWhen_data() {
        QTest::addColumn<QString>("event");
        for (const char* event : {"logout", "logout tab", "idle logout", "background logout", "removal",
                                  "wipe", "deletion", "another user chosen"})
            QTest::newRow(event) << QString::fromLatin1(event);
    }

    void signingKeyIsDroppedWhen() {
        QFETCH(QString, event);
        const AuthResponse record = withNamedKey(user(QStringLiteral("z1"), QStringLiteral("s1")));
        const QString tag = keyTag(record);
        const std::optional<SecureBytes> key = m_keys->find(tag);
        QVERIFY(key);
        store().saveAuthResponse(record);
        auto model = makeModel();
        signIn(*model, record);

        QVERIFY(KeyChain::sign(record, signedMessage).signature);
        const int loaded = m_keys->lookups();
        QVERIFY(KeyChain::sign(record, signedMessage).signature);
        QCOMPARE(m_keys->lookups(), loaded);

        if (event == QLatin1String("logout")) {
            model->logout();
        } else if (event == QLatin1String("logout tab")) {
            model->currentTab = TabType::logout;
            drainEventLoop();
        } else if (event == QLatin1String("idle logout")) {
            model->restartIdleTimer();
            m_clock->advance(120s);
            drainEventLoop();
        } else if (event == QLatin1String("background logout")) {
            model->minimiseWindow();
            m_clock->advance(120s);
            drainEventLoop();
        } else if (event == QLatin1String("removal")) {
            model->removeCurrentUser();
        } else if (event == QLatin1String("wipe")) {
            model->wipeAllUsers();
        } else if (event == QLatin1String("deletion")) {
            QVERIFY(KeyChain::deleteKnownKey(*KeyChain::namedKey(record)));
        } else if (event == QLatin1String("another user chosen")) {
            model->authDetails = user(QStringLiteral("z2"), QStringLiteral("s2"));
        }
        // A key deleted with its user comes back, so that the signature below has one to read.
        QTRY_COMPARE(m_keys->count(tag),
                     event == QLatin1String("removal") || event == QLatin1String("deletion") ? 0 : 1);
        if (m_keys->count(tag) == 0)
            QCOMPARE(m_keys->add(tag, *key), KeyStore::success);

        const int before = m_keys->lookups();
        const auto signature = KeyChain::sign(record, signedMessage).signature;
        QVERIFY(m_keys->lookups() > before);
        QVERIFY(signature && *signature);
        const auto current = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(current);
        QVERIFY(current->publicKey.verifySha256(signedMessage.toUtf8(),
                                                QByteArray::fromBase64(signature->value().toLatin1())));
    }

    // Only the signed-in user's key is ever kept: each of these signatures reads the key store.
    void keysOfUsersNotSignedInAreNeverKept_data() {
        QTest::addColumn<QString>("situation");
        QTest::newRow("chosen on the unlock screen") << QStringLiteral("chosen");
        QTest::newRow("another user than the signed-in one") << QStringLiteral("other");
        QTest::newRow("after logout") << QStringLiteral("logged out");
    }

    void keysOfUsersNotSignedInAreNeverKept() {
        QFETCH(QString, situation);
        const AuthResponse signedIn = withNamedKey(user(QStringLiteral("z1"), QStringLiteral("s1")));
        const AuthResponse other = withNamedKey(user(QStringLiteral("z2"), QStringLiteral("s2")));
        QVERIFY(KeyChain::namedKey(signedIn) && KeyChain::namedKey(other));
        store().saveAuthResponse(signedIn);
        store().saveAuthResponse(other);
        auto model = makeModel();

        AuthResponse signer = signedIn;
        if (situation == QLatin1String("chosen")) {
            model->authDetails = signedIn;
        } else if (situation == QLatin1String("other")) {
            signIn(*model, signedIn);
            signer = other;
        } else {
            signIn(*model, signedIn);
            QVERIFY(KeyChain::sign(signer, signedMessage).signature);
            model->logout();
        }
        const int before = m_keys->lookups();
        QVERIFY(KeyChain::sign(signer, signedMessage).signature);
        QVERIFY(KeyChain::sign(signer, signedMessage).signature);
        QCOMPARE(m_keys->lookups(), before + 2);
    }

    void logoutTabEndsTheSession() {
        const AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("s1"));
        store().saveAuthResponse(record);
        auto model = makeModel();
        signIn(*model, record);
        model->currentTab = TabType::logout;
        drainEventLoop();
        QVERIFY(!model->isSignedIn());
        QCOMPARE(model->currentTab.get(), TabType::login);
        QCOMPARE(model->tabs.get(), loggedOutTabs);
    }
};

QTEST_GUILESS_MAIN(AppViewModelTest)
#include "tst_appviewmodel.moc"
