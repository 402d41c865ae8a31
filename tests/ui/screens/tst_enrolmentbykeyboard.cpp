#include "flows/FlowFixture.h"

#include "flows/CreateAccountViewModel.h"
#include "storage/AppLogger.h"
#include "support/WidgetTestSupport.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/screens/CreateAccountView.h"
#include "window/MainTabView.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QTest>

// A whole enrolment in the real window with the keyboard alone: Tab by the tab bar's order, typing into
// whatever holds the keyboard, Return on the focused control.
class TestEnrolmentByKeyboard : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryKeyStore> m_keys = std::make_shared<MemoryKeyStore>();
    std::unique_ptr<FlowFixture> f;
    std::unique_ptr<MainWindow> m_window;

    QWidget* keyTarget() const {
        QWidget* focused = QApplication::focusWidget();
        return focused ? focused : m_window.get();
    }

    void press(Qt::Key key) {
        QTest::keyClick(keyTarget(), key);
        widgettest::settle();
    }

    void type(const QString& text) {
        for (const QChar character : text) {
            QTest::keyClick(keyTarget(), character.toLatin1());
            widgettest::settle();
        }
    }

    std::optional<Field> focused() const { return f->app->focusedFieldPublisher.get(); }

    CreateAccountView* screen() const {
        return qobject_cast<CreateAccountView*>(m_window->mainTabView().currentScreen());
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        FlowFixture::setUpProcess(m_dir, m_keys);
        AppLogger::shared().setLogFilePath(m_dir.filePath("quorvaleapp.log"));
        f = std::make_unique<FlowFixture>();
        f->app->appConfigState = LaunchConfigurationState::loggedIn;
        f->app->currentTab = TabType::newRegisteration;
        m_window = std::make_unique<MainWindow>(*f->app, *f->repository);
        QVERIFY(widgettest::showActive(*m_window));
    }

    void cleanupTestCase() {
        m_window.reset();
        f.reset();
    }

    void enrolsWithTheKeyboardAlone() {
        f->reply("user/registration/validate",
                 QJsonObject{{"errorCode", 0}, {"resultCode", 0}, {"orgCode", "ORG1"}});
        f->checks.enrolAs("S-5", "P-5", "ORG1");
        QVERIFY(screen());

        // From the registration tab's entry into the form.
        widgettest::publishFocus(*f->app, Field::regTab);
        press(Qt::Key_Tab);
        QCOMPARE(focused(), std::optional(Field::helpTab));
        press(Qt::Key_Tab);
        QCOMPARE(focused(), std::optional(Field::regOrgEmail));
        type(QStringLiteral("Bob.Stone@Example.com"));
        press(Qt::Key_Tab);
        QCOMPARE(focused(), std::optional(Field::regActivationCode));
        type(QStringLiteral("730418"));
        press(Qt::Key_Tab);
        QCOMPARE(focused(), std::optional(Field::agreeTerms));
        press(Qt::Key_Return);
        QVERIFY(screen()->viewModel().isChecked.get());
        press(Qt::Key_Tab);
        press(Qt::Key_Tab);
        press(Qt::Key_Tab);
        QCOMPARE(focused(), std::optional(Field::regSubmitButton));
        press(Qt::Key_Return);

        QTRY_COMPARE(screen()->stage(), CreateAccountView::Stage::pin);
        QTRY_COMPARE(focused(), std::optional(Field::createPin));
        type(QStringLiteral("582604"));
        press(Qt::Key_Tab);
        QCOMPARE(focused(), std::optional(Field::confirmPin));
        // The sixth digit submits.
        type(QStringLiteral("582604"));
        QTRY_VERIFY(screen()->viewModel().showSucces.get());
        QVERIFY(!f->app->isLoading.get());
        QCOMPARE(f->bodies("user/registration/validate").size(), 1);
        QCOMPARE(f->bodies("desktop/user/register").size(), 1);

        QVERIFY(!widgettest::saveScreenshot(*m_window, "enrolment-complete-window").isEmpty());
        // The shell's flow runs on the wall clock: the completion message stands two seconds.
        QTRY_COMPARE_WITH_TIMEOUT(f->app->currentTab.get(), TabType::login, 5000);
        const auto stored =
            CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(stored.size(), size_t(1));
        QCOMPARE(stored[0].email, QStringLiteral("bob.stone@example.com"));
        QCOMPARE(stored[0].primaryAttr, QStringLiteral("P-5"));
        QVERIFY(stored[0].keyTag);
        QCOMPARE(m_keys->count(*stored[0].keyTag), 1);
    }
};

QTEST_MAIN(TestEnrolmentByKeyboard)
#include "tst_enrolmentbykeyboard.moc"
