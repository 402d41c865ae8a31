#include "flows/HomeViewModel.h"

#include "app/AppViewModel.h"
#include "app/PolicyLimits.h"
#include "platform/Console.h"
#include "platform/MemoryKeyStore.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "support/ManualClock.h"
#include "support/RecordingWindowController.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString rightPin = QStringLiteral("135792");
const QString wrongPin = QStringLiteral("246801");

QString beforeLock(int left, int minutes = 30) {
    return QStringLiteral("Invalid PIN. %1 %2 remaining before you are forced to wait %3 minutes to retry")
        .arg(left)
        .arg(left == 1 ? "attempt" : "attempts")
        .arg(minutes);
}

QString beforeRemoval(int left) {
    return QStringLiteral("Invalid PIN. %1 %2 remaining before your account is permanently locked")
        .arg(left)
        .arg(left == 1 ? "attempt" : "attempts");
}

const QString lockStarted = QStringLiteral("Your account is temporarily locked. Please retry in 30 minutes");
const QString permanentlyLocked =
    QStringLiteral("Your account is permanently locked. Please contact helpdesk");

} // namespace

class TestUnlock : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryKeyStore> m_keys = std::make_shared<MemoryKeyStore>();
    std::unique_ptr<ManualClock> m_clock;
    std::unique_ptr<AppViewModel> m_app;
    RecordingWindowController m_windows;
    AuthResponse m_user;

    const AuthResponse& current() const { return *m_app->authDetails.get(); }

    QString finalTag() const { return *m_user.primaryAttr + "||" + *m_user.pin; }

    std::optional<AuthResponse> storedUser() const {
        for (const AuthResponse& user :
             CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}))
            if (user.zid == m_user.zid)
                return user;
        return std::nullopt;
    }

    // The unlock screen makes the chosen user current before each check.
    void attempt(HomeViewModel& model, const QString& pin) { model.verifyPin(*m_user.email, pin); }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        PersistentContainer::Options options;
        options.storePath = m_dir.filePath("QVModel.sqlite");
        QVERIFY(CoreDataManager::configure(options));
        KeyChain::setKeyStore(m_keys);
        console::setSink([](const QString&) {});
    }

    void cleanupTestCase() { console::setSink({}); }

    void init() {
        policy::resetToDefaults();
        CoreDataManager::shared().deleteAllUsers();
        m_user = AuthResponse();
        m_user.suid = "S-1";
        m_user.zid = "Z-1";
        m_user.email = "alice@example.com";
        m_user.displayEmail = "alice@example.com";
        m_user.orgCode = "ORG1";
        m_user.primaryAttr = "P-1";
        m_user.pin = KeyChain::sha256Hex(rightPin);
        CoreDataManager::shared().saveAuthResponse(m_user);

        m_clock = std::make_unique<ManualClock>(QDateTime::currentDateTime());
        m_app = std::make_unique<AppViewModel>(nullptr, *m_clock);
        m_app->setTestMode(true);
        m_app->setWindowController(&m_windows);
        m_app->authDetails = m_user;
    }

    void cleanup() { m_app.reset(); }

    // Wrong PINs only, from a user without a count, with the default policy.
    void wrongPinsLockThenRemoveTheUser() {
        QVERIFY(KeyChain::getOrCreateKeyPair(finalTag()));
        HomeViewModel model(nullptr, *m_app, *m_clock);
        const auto expect = [&](const QString& message, std::optional<qint64> count) {
            attempt(model, wrongPin);
            QCOMPARE(model.errorMessage.get(), message);
            QCOMPARE(current().invalidAttemptCount, count);
            // The count survives a restart.
            QCOMPARE(storedUser()->invalidAttemptCount, count);
        };

        expect("Invalid PIN", 0);
        expect(beforeLock(3), 1);
        expect(beforeLock(2), 2);
        expect(beforeLock(1), 3);
        QVERIFY(!current().lockedTimeStamp);
        expect(lockStarted, 3);
        QCOMPARE(current().lockedTimeStamp, m_clock->now());

        // During the lock even the right PIN only shows the time left.
        attempt(model, rightPin);
        QCOMPARE(model.errorMessage.get(), lockStarted);
        QCOMPARE(m_app->currentTab.get(), TabType::login);
        m_clock->advance(29min);
        expect("Your account is temporarily locked. Please retry in 1 minute", 3);

        m_clock->advance(1min);
        expect(beforeRemoval(4), 4);
        QVERIFY(!current().lockedTimeStamp);
        expect(beforeRemoval(3), 5);
        expect(beforeRemoval(2), 6);
        expect(beforeRemoval(1), 7);
        expect(beforeRemoval(0), 8);
        QCOMPARE(m_keys->count(finalTag()), 1);

        attempt(model, wrongPin);
        QCOMPARE(model.errorMessage.get(), permanentlyLocked);
        QVERIFY(!m_app->authDetails.get());
        QVERIFY(!storedUser());
        QTRY_COMPARE(m_keys->count(finalTag()), 0);
        QVERIFY(m_app->userDetailsList.get()->empty());
        QCOMPARE(m_app->currentTab.get(), TabType::newRegisteration);
    }

    // A successful unlock clears the wrong attempts before it for good, also in the store: after a restart
    // the user has the policy's full number of attempts again.
    void anUnlockClearsTheStoredCount() {
        {
            HomeViewModel model(nullptr, *m_app, *m_clock);
            attempt(model, wrongPin);
            attempt(model, wrongPin);
            QCOMPARE(storedUser()->invalidAttemptCount, std::optional<qint64>(1));
            attempt(model, rightPin);
            QCOMPARE(m_app->currentTab.get(), TabType::homeScreen);
            QVERIFY(!current().invalidAttemptCount);
        }
        m_app.reset();
        m_app = std::make_unique<AppViewModel>(nullptr, *m_clock);
        m_app->setTestMode(true);
        m_app->setWindowController(&m_windows);
        m_app->authDetails = *storedUser();
        HomeViewModel model(nullptr, *m_app, *m_clock);
        for (int left = int(policy::maxLoginAttempts); left >= 1; --left) {
            attempt(model, wrongPin);
            QCOMPARE(model.errorMessage.get(), beforeLock(left));
        }
        attempt(model, wrongPin);
        QCOMPARE(model.errorMessage.get(), lockStarted);
    }

    void attempt_data() {
        QTest::addColumn<std::optional<qint64>>("count");
        QTest::addColumn<int>("lockedMinutesAgo"); // -1: no lock time
        QTest::addColumn<bool>("right");
        QTest::addColumn<QString>("message"); // empty: unlocked without a message
        QTest::addColumn<std::optional<qint64>>("countAfter");
        using C = std::optional<qint64>;

        QTest::newRow("right pin, no count") << C() << -1 << true << "" << C();
        QTest::newRow("right pin clears the count") << C(2) << -1 << true << "" << C();
        QTest::newRow("right pin after the lock ran out") << C(3) << 30 << true << "" << C();
        QTest::newRow("right pin in the last stage") << C(6) << 45 << true << "" << C();
        QTest::newRow("right pin after the last warning") << C(8) << -1 << true << "" << C();
        QTest::newRow("right pin, lock time in the future") << C(3) << -40 << true << "" << C();
        QTest::newRow("right pin, lock time just ahead")
            << C(3) << -10 << true << "Your account is temporarily locked. Please retry in 40 minutes"
            << C(3);
        QTest::newRow("right pin during the lock")
            << C(3) << 12 << true << "Your account is temporarily locked. Please retry in 18 minutes" << C(3);
        QTest::newRow("negative count is left alone") << C(-1) << -1 << false << "" << C(-1);
        QTest::newRow("stale lock time skips the new lock")
            << C(3) << 90 << false << beforeRemoval(4) << C(4);
        QTest::newRow("count above the last stage") << C(9) << -1 << false << "" << C(9);
    }

    void attempt() {
        QFETCH(std::optional<qint64>, count);
        QFETCH(int, lockedMinutesAgo);
        QFETCH(bool, right);
        QFETCH(QString, message);
        QFETCH(std::optional<qint64>, countAfter);

        const QDateTime lockedAt = m_clock->now().addSecs(-60 * qint64(lockedMinutesAgo));
        m_app->authDetails.modify([&](std::optional<AuthResponse>& user) {
            user->invalidAttemptCount = count;
            if (lockedMinutesAgo != -1)
                user->lockedTimeStamp = lockedAt;
        });
        HomeViewModel model(nullptr, *m_app, *m_clock);
        attempt(model, right ? rightPin : wrongPin);

        QCOMPARE(model.errorMessage.get(), message);
        QCOMPARE(current().invalidAttemptCount, countAfter);
        const bool unlocked = right && message.isEmpty();
        QCOMPARE(m_app->currentTab.get() == TabType::homeScreen, unlocked);
        QCOMPARE(m_app->isSignedIn(), unlocked);
        if (unlocked) {
            QCOMPARE(m_app->tabs.get(), loggedInTabs);
            // The lock time stays after an unlock.
            QCOMPARE(current().lockedTimeStamp.has_value(), lockedMinutesAgo != -1);
            QCOMPARE(CoreDataManager::shared().fetchLastLoginDate(), m_clock->now());
        }
    }

    void unlockShowsTheUserAndLogoutEndsTheSession() {
        HomeViewModel model(nullptr, *m_app, *m_clock);
        QCOMPARE(model.email.get(), "alice@example.com");
        attempt(model, rightPin);
        QCOMPARE(model.email.get(), "alice@example.com");
        QVERIFY(m_app->isSignedIn());
        m_app->logout();
        QVERIFY(!m_app->isSignedIn());
        // A second logout finds nobody signed in.
        QCoreApplication::sendPostedEvents();
        m_app->currentTab = TabType::help;
        m_app->logout();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(m_app->currentTab.get(), TabType::login);
    }

    void policyChangeAppliesToTheNextAttempt() {
        m_app->authDetails.modify([](std::optional<AuthResponse>& user) { user->invalidAttemptCount = 1; });
        HomeViewModel model(nullptr, *m_app, *m_clock);
        attempt(model, wrongPin);
        QCOMPARE(model.errorMessage.get(), beforeLock(2));
        policy::maxLoginAttempts = 5;
        policy::lockoutDurationMinutes = 10;
        attempt(model, wrongPin);
        QCOMPARE(model.errorMessage.get(), beforeLock(3, 10));
        policy::maxLoginAttempts = 3;
        attempt(model, wrongPin);
        QCOMPARE(model.errorMessage.get(), "Your account is temporarily locked. Please retry in 10 minutes");
        QCOMPARE(current().invalidAttemptCount, 3);
    }

    void singleAttemptPolicy() {
        policy::maxLoginAttempts = 1;
        m_app->authDetails.modify([](std::optional<AuthResponse>& user) { user->invalidAttemptCount = 0; });
        HomeViewModel model(nullptr, *m_app, *m_clock);
        attempt(model, wrongPin);
        QCOMPARE(model.errorMessage.get(), beforeLock(1));
    }

    void noCurrentUser() {
        m_app->authDetails = std::nullopt;
        HomeViewModel model(nullptr, *m_app, *m_clock);
        QCOMPARE(model.email.get(), "User");
        attempt(model, rightPin);
        QCOMPARE(model.errorMessage.get(), "No user found");
    }

    // A current user the store no longer holds (deleted by the users check, say, before the screen heard of
    // it) is not checked: writing its count, or its unlock, would store it again.
    void aUserNoLongerStoredIsNotChecked_data() {
        QTest::addColumn<bool>("right");
        QTest::newRow("its PIN") << true;
        QTest::newRow("a wrong PIN") << false;
    }
    void aUserNoLongerStoredIsNotChecked() {
        QFETCH(bool, right);
        QVERIFY(CoreDataManager::shared().deleteAuthResponse(*m_user.zid));
        HomeViewModel model(nullptr, *m_app, *m_clock);
        attempt(model, right ? rightPin : wrongPin);
        QCOMPARE(model.errorMessage.get(), "No user found");
        QVERIFY(!storedUser());
        QVERIFY(!m_app->authDetails.get());
        QCOMPARE(m_app->currentTab.get(), TabType::login);
        QVERIFY(!m_app->isSignedIn());
    }

    // The store cannot read its users any more (a failing disk): the attempt is neither counted nor taken
    // for one of a user who is gone, the unlock screen stays as it is, and it says that something failed.
    void aStoreThatCannotReadItsUsersCountsNoAttempt_data() {
        QTest::addColumn<bool>("right");
        QTest::newRow("its PIN") << true;
        QTest::newRow("a wrong PIN") << false;
    }
    void aStoreThatCannotReadItsUsersCountsNoAttempt() {
        QFETCH(bool, right);
        HomeViewModel model(nullptr, *m_app, *m_clock);
        QSqlDatabase db = CoreDataManager::shared().persistentContainer().database();
        QVERIFY(QSqlQuery(db).exec("ALTER TABLE QVUserEntity RENAME TO QVUserEntityAway"));
        attempt(model, right ? rightPin : wrongPin);
        QVERIFY(QSqlQuery(db).exec("ALTER TABLE QVUserEntityAway RENAME TO QVUserEntity"));
        QCOMPARE(model.errorMessage.get(), "An unknown error occurred");
        QVERIFY(m_app->authDetails.get());
        QCOMPARE(current().invalidAttemptCount, m_user.invalidAttemptCount);
        QCOMPARE(storedUser()->invalidAttemptCount, std::optional<qint64>(0));
        QCOMPARE(m_app->currentTab.get(), TabType::login);
        QVERIFY(!m_app->isSignedIn());
        QCOMPARE(m_app->userDetailsList.get()->size(), size_t(1));
    }

    void userWithoutPinHashNeverUnlocks() {
        m_app->authDetails.modify([](std::optional<AuthResponse>& user) { user->pin.reset(); });
        HomeViewModel model(nullptr, *m_app, *m_clock);
        attempt(model, rightPin);
        QCOMPARE(model.errorMessage.get(), "Invalid PIN");
        QCOMPARE(m_app->currentTab.get(), TabType::login);
    }
};

QTEST_GUILESS_MAIN(TestUnlock)
#include "tst_unlock.moc"
