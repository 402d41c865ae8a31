#include "FlowFixture.h"

#include "flows/CreateAccountViewModel.h"
#include "flows/HomeViewModel.h"
#include "flows/RemoveUserViewModel.h"
#include "platform/SecretServiceKeyStore.h"

#include <QCoreApplication>
#include <QTest>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;

// The client's whole job on the desktop keyring: enrol, unlock, approve a sign-in, remove the user.
class TestFullRun : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QUORVALE_SET_UP_ON_THE_KEYRING(m_dir);
        console::setSink([](const QString&) {});
    }

    void cleanupTestCase() { console::setSink({}); }

    void enrolUnlockApproveRemove() {
        FlowFixture f;
        const QString pin = QStringLiteral("135792");
        const QString pinHash = KeyChain::sha256Hex(pin);
        // Runs at the same time share the keyring: each enrols a user of its own.
        const QString run = QString::number(QCoreApplication::applicationPid());
        const QString email = QStringLiteral("carol.") + run + QStringLiteral("@example.com");
        const QString primaryAttr = QStringLiteral("P-CAROL-") + run;

        // Enrol.
        f.reply("user/registration/validate", {{"errorCode", 0}, {"resultCode", 0}, {"orgCode", "ORG1"}});
        f.checks.enrolAs("S-CAROL", primaryAttr, "ORG1");
        {
            CreateAccountViewModel enrolment(f.repository.get(), *f.app, f.clock);
            enrolment.email = email.toUpper();
            f.app->isLoading = true;
            QCoro::waitFor(enrolment.validateUser("ACT-1", enrolment.email.get()));
            QVERIFY(enrolment.isUserValidated.get());
            QCoro::waitFor(enrolment.createAccount(pin));
            QCOMPARE(enrolment.errorMessage.get(),
                     "Registration complete. You can login by selecting " + email + " from the login tab.");
            f.clock.advance(2s);
            QCOMPARE(f.app->currentTab.get(), TabType::login);
        }
        // Unlock: the unlock screen makes the chosen user current, then checks the PIN.
        const auto users = f.app->userDetailsList.get();
        QVERIFY(users && users->size() == 1);
        const std::optional<KeyChain::KnownKey> key = KeyChain::namedKey(users->front());
        QVERIFY(key && KeyChain::keyStore()->find(key->tag));
        f.app->authDetails = users->front();
        HomeViewModel home(f.repository.get(), *f.app, f.clock);
        home.verifyPin(email, pin);
        QCOMPARE(f.app->currentTab.get(), TabType::homeScreen);
        QVERIFY(f.app->isSignedIn());

        // Approve a web sign-in with a second code.
        f.reply("verify/did", {{"errorCode", 0}, {"resultCode", 0}, {"org", "ORG1"}, {"ttl", 30}});
        f.reply("verify/validationCode", {{"errorCode", 0}, {"resultCode", 0}, {"message", "Welcome back"}});
        QCoro::waitFor(home.verifyDid("ORG1:q7k2m9"));
        QVERIFY(home.show2Fa.get());
        home.verifyCode("4821");
        QTRY_COMPARE(home.errorMessage.get(), "Welcome back");
        QCOMPARE(f.checks.checks().size(), 2);
        QVERIFY(f.checks.allVerified());

        // Remove the user from this device.
        f.reply("device/manage", {{"errorCode", 0}, {"resultCode", 0}});
        RemoveUserViewModel removal(*f.app, f.repository.get());
        removal.removeUser();
        QTRY_VERIFY(!f.app->isSignedIn());
        QCOMPARE(f.checks.checks().size(), 3);
        QVERIFY(f.checks.allVerified());
        QVERIFY(CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).empty());
        QTRY_VERIFY(!KeyChain::keyStore()->find(key->tag));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(f.app->currentTab.get(), TabType::newRegisteration);
    }
};

QTEST_GUILESS_MAIN(TestFullRun)
#include "tst_fullrun.moc"
