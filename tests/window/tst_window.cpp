// The window shell driven as a user drives it: the tab bar by pointer and keys, the update reminder, the busy
// overlay, the idle logout and the window operations, over the real app state and repository.
#include "ShellFixture.h"

#include "ui/controls/KeyDispatcher.h"
#include "window/LoadingOverlay.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWindow>

using namespace shelltest;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<Field>)
Q_DECLARE_METATYPE(std::optional<LaunchConfigurationState>)

namespace QTest {
template <> char* toString(const std::optional<Field>& field) {
    return qstrdup(field ? qPrintable(fieldName(*field)) : "none");
}
} // namespace QTest

namespace {

// Catches the links the program hands to the desktop instead of starting a browser.
class LinkCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

bool isWithin(const QWidget* widget, const QWidget* ancestor) {
    return widget && (widget == ancestor || ancestor->isAncestorOf(widget));
}

int stackIndex(const QWidget* widget) {
    return widget->parentWidget()->children().indexOf(const_cast<QWidget*>(widget));
}

void press(QWidget& window, Qt::Key key) {
    QTest::keyClick(&window, key);
    widgettest::settle();
}

// Moves the pointer within the window, each time to a place it was not (the window system reports no
// movement to the same place).
void moveMouse(QWindow* window) {
    static int step = 0;
    ++step;
    QTest::mouseMove(window, QPoint(100 + (step * 7) % 500, 150 + (step * 13) % 250));
}

// One key press or mouse movement as the window system delivers it: to the window, which hands a key to
// its focused widget.
void act(QWindow* window, const QString& activity) {
    if (activity == QStringLiteral("key"))
        QTest::keyClick(window, 'x');
    else
        moveMouse(window);
    widgettest::settle();
}

std::chrono::milliseconds idleTime() {
    return std::chrono::minutes(policy::desktopIdleSession);
}

// Unlocks the stored user as the run guide teaches: the PIN typed into the unlock screen, whose sixth
// digit unlocks. The users check that a PIN starts has come back, and the service's record starts afresh.
bool unlockByTyping(ShellFixture& shell) {
    if (!widgettest::showActive(*shell.window))
        return false;
    for (const QChar digit : storedPin)
        QTest::keyClick(shell.window->windowHandle(), digit.toLatin1());
    widgettest::settle();
    const bool checked = QTest::qWaitFor(
        [&] { return shell.requestsTo(usersNotExistRoute) == 1 && !shell.app->isLoading.get(); });
    widgettest::settle();
    shell.service.clearReceived();
    return checked && shell.app->isSignedIn() && shell.app->currentTab.get() == TabType::homeScreen;
}

// Lets queued work, loopback requests and their replies run; long enough for a request that should not
// have been sent to show up.
void letRequestsArrive() {
    QTest::qWait(300);
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private:
    Backend m_backend;
    IdentityServiceDouble& m_service = m_backend.service;
    LinkCatcher m_links;
    std::unique_ptr<ShellFixture> m_shell;

    // The window shown and its start-up checks over.
    bool start(bool withUser) {
        m_shell = std::make_unique<ShellFixture>(m_backend, withUser);
        return m_shell->show() && m_shell->waitForStartChecks(withUser);
    }

    // The window shown, its stored user unlocked by typing the PIN.
    bool startUnlocked() { return start(true) && unlockByTyping(*m_shell); }

private slots:
    void initTestCase() {
        qRegisterMetaType<std::optional<Field>>();
        QVERIFY(ShellFixture::setUpProcess(m_backend));
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_links, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    void cleanup() {
        m_shell.reset();
        m_links.opened.clear();
    }

    void startFocusDependsOnStoredUsers_data() {
        QTest::addColumn<bool>("withUser");
        QTest::addColumn<int>("expectedTab");
        QTest::addColumn<Field>("expectedFocus");
        QTest::addColumn<Field>("selectedTab");
        QTest::addColumn<QString>("screenshot");
        QTest::newRow("users stored") << true << int(TabType::login) << Field::loginPassword
                                      << Field::loginTab << QStringLiteral("shell-loggedout-login");
        QTest::newRow("nobody stored") << false << int(TabType::newRegisteration) << Field::regOrgEmail
                                       << Field::regTab << QStringLiteral("shell-loggedout-registration");
    }
    void startFocusDependsOnStoredUsers() {
        QFETCH(bool, withUser);
        QFETCH(int, expectedTab);
        QFETCH(Field, expectedFocus);
        QFETCH(Field, selectedTab);
        QFETCH(QString, screenshot);
        QVERIFY(start(withUser));
        ShellFixture& shell = *m_shell;
        widgettest::settle();

        QCOMPARE(int(shell.app->currentTab.get()), expectedTab);
        QCOMPARE(shell.app->focusedFieldPublisher.get(), std::optional<Field>(expectedFocus));
        for (Field tab : {Field::loginTab, Field::regTab, Field::helpTab}) {
            QVERIFY(shell.tab(tab));
            QCOMPARE(shell.tab(tab)->isSelected(), tab == selectedTab);
            QVERIFY(!shell.tab(tab)->isFrameVisible());
        }
        QVERIFY(shell.shell().currentScreen());
        QVERIFY(!widgettest::saveScreenshot(*shell.window, screenshot).isEmpty());
    }

    void loggedInTabsShowTheSignedInSet_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("screenshot");
        QTest::newRow("home") << int(TabType::homeScreen) << QStringLiteral("shell-loggedin-home");
        QTest::newRow("remove user") << int(TabType::removeUser)
                                     << QStringLiteral("shell-loggedin-removeuser");
    }
    void loggedInTabsShowTheSignedInSet() {
        QFETCH(int, tab);
        QFETCH(QString, screenshot);
        QVERIFY(start(true));
        ShellFixture& shell = *m_shell;
        shell.signIn();
        shell.app->currentTab = TabType(tab);
        widgettest::settle();

        QVERIFY(!shell.tab(Field::loginTab));
        QVERIFY(!shell.tab(Field::regTab));
        QCOMPARE(shell.bar().count(), 3);
        QCOMPARE(shell.tab(Field::removeUserTab)->isSelected(), TabType(tab) == TabType::removeUser);
        QVERIFY(!shell.tab(Field::helpTab)->isSelected());
        QVERIFY(!shell.tab(Field::logoutTab)->isSelected());
        QCOMPARE(shell.app->focusedFieldPublisher.get(), CustomTabBar::firstField(TabType(tab)));
        QVERIFY(!widgettest::saveScreenshot(*shell.window, screenshot).isEmpty());
    }

    void updateStatesShowTheReminderUnderLabelAndOverlay_data() {
        QTest::addColumn<std::optional<LaunchConfigurationState>>("state");
        QTest::addColumn<bool>("reminder");
        QTest::addColumn<QString>("screenshot");
        QTest::newRow("optional update") << std::optional(LaunchConfigurationState::normalUpdate) << true
                                         << QStringLiteral("reminder-normalUpdate");
        QTest::newRow("forced upgrade") << std::optional(LaunchConfigurationState::forceUpgrade) << true
                                        << QStringLiteral("reminder-forceUpgrade");
        QTest::newRow("loading") << std::optional(LaunchConfigurationState::loading) << false << QString();
        QTest::newRow("maintenance") << std::optional(LaunchConfigurationState::maintenance) << false
                                     << QString();
        QTest::newRow("compromised") << std::optional(LaunchConfigurationState::deviceSecurityCompromised)
                                     << false << QString();
        QTest::newRow("logged in") << std::optional(LaunchConfigurationState::loggedIn) << false << QString();
        QTest::newRow("absent") << std::optional<LaunchConfigurationState>() << false << QString();
    }
    void updateStatesShowTheReminderUnderLabelAndOverlay() {
        QFETCH(std::optional<LaunchConfigurationState>, state);
        QFETCH(bool, reminder);
        QFETCH(QString, screenshot);
        QVERIFY(start(true));
        ShellFixture& shell = *m_shell;
        shell.app->versionInfo = VersionInfo{QStringLiteral("1.0.0"), QStringLiteral("2.4.0")};
        shell.app->appConfigState = state;
        widgettest::settle();

        MainTabView& view = shell.shell();
        QCOMPARE(view.versionReminder() != nullptr, reminder);
        QCOMPARE(view.mainColumn()->isVisible(), !reminder);
        QCOMPARE(view.currentScreen() != nullptr, !reminder);
        QVERIFY(view.versionLabel()->isVisible());
        QVERIFY(!view.versionLabel()->text().isEmpty());
        QVERIFY(view.rect().contains(view.versionLabel()->geometry()));
        if (reminder) {
            QVERIFY(view.versionReminder()->isVisible());
            QVERIFY(stackIndex(view.versionLabel()) > stackIndex(view.versionReminder()));
            QVERIFY(!widgettest::saveScreenshot(*shell.window, screenshot).isEmpty());
            // The reminder has no keys: Return on a tab focused before it came does nothing.
            widgettest::publishFocus(*shell.app, Field::regTab);
            press(*shell.window, Qt::Key_Return);
            QCOMPARE(shell.app->currentTab.get(), TabType::login);
        }

        shell.app->isLoading = true;
        widgettest::settle();
        LoadingOverlay* overlay = view.loadingOverlay();
        QVERIFY(overlay->isVisible());
        QCOMPARE(overlay->geometry(), view.rect());
        QVERIFY(stackIndex(overlay) > stackIndex(view.versionLabel()));
        if (reminder)
            QVERIFY(stackIndex(overlay) > stackIndex(view.versionReminder()));
        QVERIFY(isWithin(view.childAt(view.rect().center()), overlay));
        QVERIFY(overlay->indicator()->isVisible());
        if (reminder && state == LaunchConfigurationState::normalUpdate)
            QVERIFY(!widgettest::saveScreenshot(*shell.window, QStringLiteral("reminder-under-overlay"))
                         .isEmpty());
        if (!reminder && !state)
            QVERIFY(!widgettest::saveScreenshot(*shell.window, QStringLiteral("shell-loading-overlay"))
                         .isEmpty());
        shell.app->isLoading = false;
        widgettest::settle();
        QVERIFY(!overlay->isVisible());
    }

    void remindMeLaterGivesBackAFreshScreen_data() {
        QTest::addColumn<bool>("loading");
        QTest::newRow("idle window") << false;
        QTest::newRow("busy window: the overlay takes the click") << true;
    }
    void remindMeLaterGivesBackAFreshScreen() {
        QFETCH(bool, loading);
        QVERIFY(start(true));
        ShellFixture& shell = *m_shell;
        QPointer<QWidget> before = shell.shell().currentScreen();
        const int keyHandlers = KeyDispatcher::instance().handlerCount();
        shell.app->appConfigState = LaunchConfigurationState::normalUpdate;
        widgettest::publishFocus(*shell.app, Field::unlockApp);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(before.isNull());
        shell.app->isLoading = loading;
        widgettest::settle();

        auto* button =
            shell.shell().versionReminder()->findChild<QPushButton*>(QStringLiteral("remindMeLater"));
        QVERIFY(button && button->isVisible());
        // Through the window system, so that whatever lies on top gets the click.
        const QPoint at = button->mapTo(shell.window.get(), button->rect().center());
        QTest::mouseClick(shell.window->windowHandle(), Qt::LeftButton, {}, at);
        widgettest::settle();

        if (loading) {
            QCOMPARE(shell.app->appConfigState.get(), std::optional(LaunchConfigurationState::normalUpdate));
            QVERIFY(shell.shell().versionReminder());
            return;
        }
        QCOMPARE(shell.app->appConfigState.get(), std::optional(LaunchConfigurationState::loading));
        QVERIFY(!shell.shell().versionReminder());
        QVERIFY(shell.shell().mainColumn()->isVisible());
        QVERIFY(shell.shell().currentScreen());
        QCOMPARE(shell.app->focusedFieldPublisher.get(), std::optional(Field::loginPassword));
        // The bar works again, with one key handler as before: Tab moves exactly one step.
        QCOMPARE(KeyDispatcher::instance().handlerCount(), keyHandlers);
        widgettest::publishFocus(*shell.app, Field::loginTab);
        press(*shell.window, Qt::Key_Tab);
        QCOMPARE(shell.app->focusedFieldPublisher.get(), std::optional(Field::regTab));
    }

    void reclickingTheCurrentTabStartsItOverButKeepsItsScreen_data() {
        QTest::addColumn<bool>("withUser");
        QTest::addColumn<Field>("tab");
        QTest::addColumn<Field>("firstField");
        QTest::addColumn<int>("userChecks");
        // With nobody stored the users check has nothing to ask.
        QTest::newRow("login") << true << Field::loginTab << Field::loginPassword << 1;
        QTest::newRow("new registration") << false << Field::regTab << Field::regOrgEmail << 0;
    }
    void reclickingTheCurrentTabStartsItOverButKeepsItsScreen() {
        QFETCH(bool, withUser);
        QFETCH(Field, tab);
        QFETCH(Field, firstField);
        QFETCH(int, userChecks);
        QVERIFY(start(withUser));
        ShellFixture& shell = *m_shell;
        const TabType before = shell.app->currentTab.get();
        QPointer<QWidget> screen = shell.shell().currentScreen();
        widgettest::publishFocus(*shell.app, Field::unfocus);

        QTest::mouseClick(shell.tab(tab), Qt::LeftButton);
        widgettest::settle();

        QCOMPARE(shell.app->currentTab.get(), before);
        QCOMPARE(shell.app->focusedFieldPublisher.get(), std::optional(firstField));
        QTRY_COMPARE(shell.requestsTo(versionRoute), 1);
        QTRY_COMPARE(shell.requestsTo(usersNotExistRoute), userChecks);
        QTRY_VERIFY(!shell.app->isLoading.get());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!screen.isNull());
        QCOMPARE(shell.shell().currentScreen(), screen.data());
    }

    void aScreenShownAgainIsAFreshOne() {
        QVERIFY(start(true));
        ShellFixture& shell = *m_shell;
        QPointer<QWidget> login = shell.shell().currentScreen();
        QTest::mouseClick(shell.tab(Field::regTab), Qt::LeftButton);
        widgettest::settle();
        QCOMPARE(shell.app->currentTab.get(), TabType::newRegisteration);
        QCOMPARE(shell.app->focusedFieldPublisher.get(), std::optional(Field::regOrgEmail));
        QTRY_COMPARE(shell.requestsTo(versionRoute), 1);
        QTRY_COMPARE(shell.requestsTo(usersNotExistRoute), 1);
        QTRY_VERIFY(!shell.app->isLoading.get());
        QPointer<QWidget> registration = shell.shell().currentScreen();

        QTest::mouseClick(shell.tab(Field::loginTab), Qt::LeftButton);
        widgettest::settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(login.isNull());
        QVERIFY(registration.isNull());
        QVERIFY(shell.shell().currentScreen());
        QVERIFY(shell.shell().currentScreen()->isVisible());
        QCOMPARE(shell.app->focusedFieldPublisher.get(), std::optional(Field::loginPassword));
        QTRY_VERIFY(!shell.app->isLoading.get());
    }

    void logoutTabReturnsToTheLoggedOutTabsUnderTheOverlay() {
        QVERIFY(start(true));
        ShellFixture& shell = *m_shell;
        shell.signIn();
        QPointer<QWidget> home = shell.shell().currentScreen();

        QTest::mouseClick(shell.tab(Field::logoutTab), Qt::LeftButton);
        widgettest::settle();

        QVERIFY(!shell.app->isSignedIn());
        QVERIFY(shell.tab(Field::loginTab) && shell.tab(Field::regTab) && shell.tab(Field::helpTab));
        QVERIFY(!shell.tab(Field::logoutTab));
        QVERIFY(shell.tab(Field::loginTab)->isSelected());
        QCOMPARE(shell.app->focusedFieldPublisher.get(), std::optional(Field::loginPassword));
        QVERIFY(shell.shell().loadingOverlay()->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(home.isNull());
        QTRY_COMPARE(shell.requestsTo(usersNotExistRoute), 1);
        shell.clock.advance(2s);
        QTRY_VERIFY(!shell.shell().loadingOverlay()->isVisible());
    }

    void returnOnATabSwitchesWithoutChecks_data() {
        QTest::addColumn<bool>("withUser");
        QTest::addColumn<Field>("focusedTab");
        QTest::addColumn<int>("expectedTab");
        QTest::addColumn<Field>("firstField");
        QTest::newRow("to new registration")
            << true << Field::regTab << int(TabType::newRegisteration) << Field::regOrgEmail;
        QTest::newRow("to login") << false << Field::loginTab << int(TabType::login) << Field::loginPassword;
        QTest::newRow("the current tab")
            << true << Field::loginTab << int(TabType::login) << Field::loginPassword;
    }
    void returnOnATabSwitchesWithoutChecks() {
        QFETCH(bool, withUser);
        QFETCH(Field, focusedTab);
        QFETCH(int, expectedTab);
        QFETCH(Field, firstField);
        QVERIFY(start(withUser));
        ShellFixture& shell = *m_shell;
        widgettest::publishFocus(*shell.app, focusedTab);
        QVERIFY(shell.tab(focusedTab)->isFrameVisible());
        if (focusedTab == Field::regTab)
            QVERIFY(
                !widgettest::saveScreenshot(*shell.window, QStringLiteral("shell-focus-on-tab")).isEmpty());

        press(*shell.window, Qt::Key_Return);

        QCOMPARE(int(shell.app->currentTab.get()), expectedTab);
        QCOMPARE(shell.app->focusedFieldPublisher.get(), std::optional(firstField));
        letRequestsArrive();
        QVERIFY(m_service.received().isEmpty());
    }

    void returnAwayFromTheTabsIsLeftToTheScreens() {
        QVERIFY(start(true));
        ShellFixture& shell = *m_shell;
        // A field of another screen: nobody on the login screen acts on it.
        widgettest::publishFocus(*shell.app, Field::authCode);
        press(*shell.window, Qt::Key_Return);
        QCOMPARE(shell.app->currentTab.get(), TabType::login);
        QCOMPARE(shell.app->focusedFieldPublisher.get(), std::optional(Field::authCode));
        QCOMPARE(shell.bar().focusedField(), std::optional<Field>());
    }

    void tabOrderTable_data() {
        QTest::addColumn<std::optional<Field>>("current");
        QTest::addColumn<int>("currentTab");
        QTest::addColumn<std::optional<Field>>("next");
        const auto row = [](const char* name, std::optional<Field> current, TabType tab,
                            std::optional<Field> next) {
            QTest::newRow(name) << current << int(tab) << next;
        };
        const std::optional<Field> none;
        row("regOrgEmail", Field::regOrgEmail, TabType::newRegisteration, Field::regActivationCode);
        row("regActivationCode", Field::regActivationCode, TabType::newRegisteration, Field::agreeTerms);
        row("agreeTerms", Field::agreeTerms, TabType::newRegisteration, Field::termsLink);
        row("termsLink", Field::termsLink, TabType::newRegisteration, Field::privacyLink);
        row("privacyLink", Field::privacyLink, TabType::newRegisteration, Field::regSubmitButton);
        row("createPin", Field::createPin, TabType::newRegisteration, Field::confirmPin);
        row("confirmPin", Field::confirmPin, TabType::newRegisteration, Field::regSubmitButton);
        row("regSubmitButton", Field::regSubmitButton, TabType::newRegisteration, Field::loginTab);
        row("loginTab", Field::loginTab, TabType::login, Field::regTab);
        row("regTab", Field::regTab, TabType::login, Field::helpTab);
        row("removeUserTab", Field::removeUserTab, TabType::homeScreen, Field::helpTab);
        row("helpTab on login", Field::helpTab, TabType::login, Field::loginUsers);
        row("helpTab on registration", Field::helpTab, TabType::newRegisteration, Field::regOrgEmail);
        row("helpTab on remove user", Field::helpTab, TabType::removeUser, Field::logoutTab);
        row("helpTab on home", Field::helpTab, TabType::homeScreen, Field::logoutTab);
        row("helpTab on help", Field::helpTab, TabType::help, none);
        row("helpTab on logout", Field::helpTab, TabType::logout, none);
        row("logoutTab on remove user", Field::logoutTab, TabType::removeUser, Field::removeYes);
        row("logoutTab on home", Field::logoutTab, TabType::homeScreen, Field::authCode);
        row("logoutTab on login", Field::logoutTab, TabType::login, Field::authCode);
        row("loginUsers", Field::loginUsers, TabType::login, Field::loginPassword);
        row("loginPassword", Field::loginPassword, TabType::login, Field::unlockApp);
        row("unlockApp", Field::unlockApp, TabType::login, Field::loginTab);
        row("removeYes", Field::removeYes, TabType::removeUser, Field::removeNo);
        row("removeNo", Field::removeNo, TabType::removeUser, Field::removeUserTab);
        row("orgSelection", Field::orgSelection, TabType::homeScreen, Field::authenticate);
        row("authenticate", Field::authenticate, TabType::homeScreen, Field::handleAuth);
        row("twoFactor", Field::twoFactor, TabType::homeScreen, Field::authenticateValidation);
        row("authenticateValidation", Field::authenticateValidation, TabType::homeScreen,
            Field::removeUserTab);
        row("homeBack", Field::homeBack, TabType::homeScreen, Field::removeUserTab);
        row("userDeletetionYes", Field::userDeletetionYes, TabType::newRegisteration, Field::userDeletionNo);
        row("userDeletionNo", Field::userDeletionNo, TabType::newRegisteration, Field::loginTab);
        row("unfocus on home", Field::unfocus, TabType::homeScreen, Field::authCode);
        row("unfocus on login", Field::unfocus, TabType::login, Field::loginTab);
        row("unfocus on remove user", Field::unfocus, TabType::removeUser, Field::loginTab);
        for (Field field :
             {Field::regPassword, Field::regConfirmPassword, Field::passSubmitButton, Field::loginCode,
              Field::loginSubmitButton, Field::loginCodeTwo, Field::loginCodeTwoSubmitButton,
              Field::removeUserConfirmButton, Field::removeUserCancel, Field::authCode, Field::handleAuth}) {
            QTest::addRow("%s has no successor", qPrintable(fieldName(field)))
                << std::optional(field) << int(TabType::homeScreen) << none;
        }
        row("nothing focused", none, TabType::login, none);
    }
    void tabOrderTable() {
        QFETCH(std::optional<Field>, current);
        QFETCH(int, currentTab);
        QFETCH(std::optional<Field>, next);
        QCOMPARE(CustomTabBar::nextField(current, TabType(currentTab)), next);
    }

    void tabKeyMovesByTheTable_data() {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<int>("currentTab");
        QTest::addColumn<std::optional<Field>>("from");
        QTest::addColumn<std::optional<Field>>("expected");
        QTest::addColumn<std::optional<Field>>("barFrame");
        const std::optional<Field> none;
        const auto row = [](const char* name, bool signedIn, TabType tab, std::optional<Field> from,
                            std::optional<Field> expected, std::optional<Field> frame) {
            QTest::newRow(name) << signedIn << int(tab) << from << expected << frame;
        };
        row("login tab to registration tab", false, TabType::login, Field::loginTab, Field::regTab,
            Field::regTab);
        row("registration tab to help tab", false, TabType::login, Field::regTab, Field::helpTab,
            Field::helpTab);
        row("help tab to the user list on login", false, TabType::login, Field::helpTab, Field::loginUsers,
            none);
        row("help tab to the e-mail on registration", false, TabType::newRegisteration, Field::helpTab,
            Field::regOrgEmail, none);
        row("unlock button back to the login tab", false, TabType::login, Field::unlockApp, Field::loginTab,
            Field::loginTab);
        row("registration button to the login tab", false, TabType::newRegisteration, Field::regSubmitButton,
            Field::loginTab, Field::loginTab);
        row("unfocus to the login tab", false, TabType::login, Field::unfocus, Field::loginTab,
            Field::loginTab);
        row("remove-user tab to help tab", true, TabType::homeScreen, Field::removeUserTab, Field::helpTab,
            Field::helpTab);
        row("help tab to logout tab on home", true, TabType::homeScreen, Field::helpTab, Field::logoutTab,
            Field::logoutTab);
        row("logout tab to the code on home", true, TabType::homeScreen, Field::logoutTab, Field::authCode,
            none);
        row("logout tab to yes on remove user", true, TabType::removeUser, Field::logoutTab, Field::removeYes,
            none);
        row("no successor keeps the focus", false, TabType::login, Field::loginCode, Field::loginCode, none);
        row("nothing focused stays so", false, TabType::login, none, none, none);
    }
    void tabKeyMovesByTheTable() {
        QFETCH(bool, signedIn);
        QFETCH(int, currentTab);
        QFETCH(std::optional<Field>, from);
        QFETCH(std::optional<Field>, expected);
        QFETCH(std::optional<Field>, barFrame);
        QVERIFY(start(true));
        ShellFixture& shell = *m_shell;
        if (signedIn)
            shell.signIn();
        shell.app->currentTab = TabType(currentTab);
        // The screen asks for its first field when it shows; the focus under test comes after that.
        widgettest::settle();
        widgettest::publishFocus(*shell.app, from);

        press(*shell.window, Qt::Key_Tab);

        QCOMPARE(shell.app->focusedFieldPublisher.get(), expected);
        QCOMPARE(shell.bar().focusedField(), barFrame);
        for (int index = 0; index < shell.bar().count(); ++index) {
            TabItemView* item = shell.bar().item(index);
            QCOMPARE(item->isFrameVisible(), barFrame && item->tab().focus == barFrame);
        }
    }

    // Regression: the idle logout started only with the first mouse movement, so a user who unlocked by
    // keyboard and walked away stayed signed in; typing alone did not postpone it either.
    void idleLogoutCountsFromTheUnlockOrTheLastActivity_data() {
        QTest::addColumn<QString>("activity");
        QTest::newRow("unlocked and untouched") << QString();
        QTest::newRow("a key every 20 s") << QStringLiteral("key");
        QTest::newRow("a mouse movement every 20 s") << QStringLiteral("mouse");
    }
    void idleLogoutCountsFromTheUnlockOrTheLastActivity() {
        QFETCH(QString, activity);
        QVERIFY(startUnlocked());
        ShellFixture& shell = *m_shell;
        QWindow* window = shell.window->windowHandle();
        const std::chrono::milliseconds idle = idleTime();

        if (!activity.isEmpty()) {
            for (std::chrono::milliseconds elapsed = 0s; elapsed < 2 * idle; elapsed += 20s) {
                shell.clock.advance(20s);
                act(window, activity);
                QVERIFY2(shell.app->isSignedIn(), "logged out while the user was busy");
            }
        }
        shell.clock.advance(idle - 1s);
        widgettest::settle();
        QVERIFY(shell.app->isSignedIn());
        QCOMPARE(shell.app->currentTab.get(), TabType::homeScreen);
        shell.clock.advance(1s);
        widgettest::settle();
        QVERIFY(!shell.app->isSignedIn());
        QCOMPARE(shell.app->currentTab.get(), TabType::login);
        // The logout's own users check, and the end of its busy state.
        QTRY_COMPARE(shell.requestsTo(usersNotExistRoute), 1);
        shell.clock.advance(2s);
        QTRY_VERIFY(!shell.app->isLoading.get());
        QVERIFY(!widgettest::saveScreenshot(*shell.window, QStringLiteral("idle-logout-") +
                                                               (activity.isEmpty() ? QStringLiteral("untouched")
                                                                                   : activity))
                     .isEmpty());

        // Activity on the unlock screen keeps no logout waiting for a session that is over.
        act(window, QStringLiteral("key"));
        act(window, QStringLiteral("mouse"));
        widgettest::consoleLines().clear();
        shell.clock.advance(2 * idle);
        widgettest::settle();
        QVERIFY2(!widgettest::consoleLines().contains(QStringLiteral("\"log out\"")),
                 "an idle logout fired for the logged-out window");
        QCOMPARE(shell.app->currentTab.get(), TabType::login);
    }

    // After an approval minimised the window, the user who comes back to it and types or moves the mouse
    // keeps the session: the background logout is dropped, and the idle logout counts from that moment.
    void activityAfterMinimisingCancelsTheBackgroundLogout_data() {
        QTest::addColumn<QString>("activity");
        QTest::newRow("a key") << QStringLiteral("key");
        QTest::newRow("a mouse movement") << QStringLiteral("mouse");
    }
    void activityAfterMinimisingCancelsTheBackgroundLogout() {
        QFETCH(QString, activity);
        QVERIFY(startUnlocked());
        ShellFixture& shell = *m_shell;
        QWindow* window = shell.window->windowHandle();
        const std::chrono::milliseconds idle = idleTime();

        shell.app->minimiseWindow();
        QTRY_VERIFY(shell.window->isMinimized());
        shell.clock.advance(idle / 2);
        // The user brings the window back by hand.
        shell.window->setWindowState(shell.window->windowState() & ~Qt::WindowMinimized);
        QVERIFY(widgettest::showActive(*shell.window));
        act(window, activity);
        widgettest::consoleLines().clear();

        shell.clock.advance(idle / 2 + 1s);
        widgettest::settle();
        QVERIFY2(!widgettest::consoleLines().contains(QStringLiteral("Timer fired!")),
                 "the background logout was not cancelled");
        QVERIFY(shell.app->isSignedIn());
        shell.clock.advance(idle / 2);
        widgettest::settle();
        QVERIFY(!shell.app->isSignedIn());
        QVERIFY(!widgettest::consoleLines().contains(QStringLiteral("Timer fired!")));
    }

    void helpOpensTheGuideAndReturnsToLogin_data() {
        QTest::addColumn<bool>("byReturn");
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("click, logged out") << false << false;
        QTest::newRow("return, logged out") << true << false;
        QTest::newRow("click, signed in") << false << true;
    }
    void helpOpensTheGuideAndReturnsToLogin() {
        QFETCH(bool, byReturn);
        QFETCH(bool, signedIn);
        QVERIFY(start(true));
        ShellFixture& shell = *m_shell;
        if (signedIn)
            shell.signIn();
        QPointer<QWidget> before = shell.shell().currentScreen();

        if (byReturn) {
            widgettest::publishFocus(*shell.app, Field::helpTab);
            press(*shell.window, Qt::Key_Return);
        } else {
            QTest::mouseClick(shell.tab(Field::helpTab), Qt::LeftButton);
            widgettest::settle();
        }

        QCOMPARE(m_links.opened.size(), 1);
        const QUrl guide = m_links.opened.first();
        QCOMPARE(guide.scheme(), QStringLiteral("https"));
        QVERIFY(guide.path().endsWith(QStringLiteral("user-guide.pdf")));
        QCOMPARE(shell.app->currentTab.get(), TabType::login);
        QCOMPARE(shell.app->focusedFieldPublisher.get(), std::optional(Field::loginPassword));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(before.isNull());
        QVERIFY(shell.shell().currentScreen());
        // Help is no login: it starts no checks.
        letRequestsArrive();
        QVERIFY(m_service.received().isEmpty());
    }

    void busyWindowIgnoresTheTabBar_data() {
        QTest::addColumn<bool>("byReturn");
        QTest::newRow("click") << false;
        QTest::newRow("return") << true;
    }
    void busyWindowIgnoresTheTabBar() {
        QFETCH(bool, byReturn);
        QVERIFY(start(true));
        ShellFixture& shell = *m_shell;
        const auto work = [&] {
            if (byReturn) {
                widgettest::publishFocus(*shell.app, Field::regTab);
                press(*shell.window, Qt::Key_Return);
            } else {
                QTest::mouseClick(shell.tab(Field::regTab), Qt::LeftButton);
                widgettest::settle();
            }
        };

        shell.app->isLoading = true;
        work();
        QCOMPARE(shell.app->currentTab.get(), TabType::login);
        letRequestsArrive();
        QVERIFY(m_service.received().isEmpty());

        shell.app->isLoading = false;
        work();
        QCOMPARE(shell.app->currentTab.get(), TabType::newRegisteration);
        QTRY_VERIFY(!shell.app->isLoading.get());
    }

    void windowIsMinimisedAndRestoredForTheAppState() {
        QVERIFY(start(true));
        ShellFixture& shell = *m_shell;
        QVERIFY(widgettest::showActive(*shell.window));

        shell.app->minimiseWindow();
        QTRY_VERIFY(shell.window->isMinimized());
        QVERIFY(shell.app->windowMinimized.get());
        // Another window has the keyboard meanwhile.
        QWidget other;
        QVERIFY(widgettest::showActive(other));
        QVERIFY(!shell.window->isActiveWindow());

        shell.app->restoreWindow();
        QTRY_VERIFY(!shell.window->isMinimized());
        QVERIFY(shell.window->isVisible());
        QTRY_VERIFY(shell.window->isActiveWindow());
        QVERIFY(!shell.app->windowMinimized.get());
    }

    void windowIsTheFixedDarkQuorvaleWindow() {
        QVERIFY(start(false));
        ShellFixture& shell = *m_shell;
        QCOMPARE(shell.window->windowTitle(), QStringLiteral("QuorvaleID"));
        QCOMPARE(shell.window->size(), QSize(800, 480));
        QCOMPARE(shell.window->minimumSize(), shell.window->maximumSize());
        QVERIFY(!(shell.window->windowFlags() & Qt::FramelessWindowHint));
        QVERIFY(shell.window->palette().color(QPalette::Window).lightnessF() < 0.2);
        QVERIFY(shell.tab(Field::loginTab)->cursor().shape() == Qt::PointingHandCursor);
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
