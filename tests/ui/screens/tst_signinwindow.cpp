#include "ScreenFixture.h"

#include "ui/screens/HomeScreenView.h"
#include "ui/screens/LoginViewView.h"
#include "window/MainTabView.h"
#include "window/MainWindow.h"

// The unlock and home screens as the window shell shows them.
class TestSignInWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AuthResponse m_user;
    QString m_pem;
    std::unique_ptr<ScreenFixture> f;
    std::unique_ptr<MainWindow> m_window;

    QWidget* currentScreen() const { return m_window->mainTabView().currentScreen(); }

    void openWindow() {
        f->storeUsers({m_user});
        f->checks.registerKey(*m_user.zid, m_pem);
        // The app state chose the registration tab while the store was empty.
        f->app->currentTab = TabType::login;
        m_window = std::make_unique<MainWindow>(*f->app, *f->repository);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        f->settle();
        QVERIFY(qobject_cast<LoginViewView*>(currentScreen()));
    }

    void typePin() {
        f->focus(Field::loginPassword);
        f->type(QStringLiteral("135792"));
        f->settle();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        ScreenFixture::setUpProcess(m_dir, std::make_shared<MemoryKeyStore>());
        m_user = ScreenFixture::enrolledUser();
        m_pem = ScreenFixture::deviceKeyPem(m_user);
        QVERIFY(!m_pem.isEmpty());
    }

    void init() { f = std::make_unique<ScreenFixture>(); }

    void cleanup() {
        m_window.reset();
        f.reset();
    }

    void aLoneUserUnlocksIntoTheHomeScreen() {
        openWindow();
        typePin();
        QTRY_VERIFY(qobject_cast<HomeScreenView*>(currentScreen()));
        QCOMPARE(f->app->tabs.get(), loggedInTabs);
        QCOMPARE(f->app->currentTab.get(), TabType::homeScreen);
    }

    void aLinkThatCameWhileTheUnlockScreenShowedIsSentAfterTheUnlock() {
        f->reply(QStringLiteral("verify/did"),
                 QJsonObject{{"errorCode", 1}, {"resultCode", 4}, {"errorMessage", "Refused"}});
        openWindow();
        f->app->deepLink = QUrl(QStringLiteral("https://id.example/auth?id=abc123"));
        f->settle();
        QTest::qWait(100);
        QVERIFY(f->bodies(QStringLiteral("verify/did")).isEmpty());
        QVERIFY(f->app->deepLink.get());

        typePin();
        QTRY_COMPARE(f->bodies(QStringLiteral("verify/did")).size(), 1);
        QCOMPARE(f->bodies(QStringLiteral("verify/did")).first().value("uniqueId").toString(),
                 QStringLiteral("ABC123"));
        QVERIFY(!f->app->deepLink.get());
        QTRY_VERIFY(!f->app->isLoading.get());
    }
};

QTEST_MAIN(TestSignInWindow)
#include "tst_signinwindow.moc"
