#include "support/WidgetTestSupport.h"
#include "ui/controls/FocusFollower.h"
#include "ui/controls/FocusSink.h"
#include "ui/controls/KeyDispatcher.h"
#include "ui/controls/KeyMonitor.h"
#include "ui/controls/KeyPressHandlingView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using widgettest::publishFocus;

namespace {

// A window with a text field three levels down, so that an unaccepted key climbs three parents.
struct NestedWindow {
    QWidget window;
    QLineEdit* field;
    NestedWindow() {
        auto* outer = new QWidget(&window);
        auto* inner = new QWidget(outer);
        field = new QLineEdit(inner);
        (new QVBoxLayout(&window))->addWidget(outer);
        (new QVBoxLayout(outer))->addWidget(inner);
        (new QVBoxLayout(inner))->addWidget(field);
        window.resize(200, 100);
    }
};

} // namespace

class KeysAndFocusTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<AppViewModel> m_model;

private slots:
    void init() { m_model = widgettest::makeAppViewModel(); }
    void cleanup() { m_model.reset(); }

    void aPressIsOfferedOnceWhateverItsPath_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("consume");
        QTest::newRow("Return passed on") << int(Qt::Key_Return) << false;
        QTest::newRow("Return consumed") << int(Qt::Key_Return) << true;
        QTest::newRow("Enter passed on") << int(Qt::Key_Enter) << false;
        QTest::newRow("Tab passed on") << int(Qt::Key_Tab) << false;
        QTest::newRow("Backspace passed on") << int(Qt::Key_Backspace) << false;
        QTest::newRow("Down passed on") << int(Qt::Key_Down) << false;
        QTest::newRow("Up consumed") << int(Qt::Key_Up) << true;
    }
    void aPressIsOfferedOnceWhateverItsPath() {
        QFETCH(int, key);
        QFETCH(bool, consume);
        NestedWindow nested;
        nested.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&nested.window));
        int offered = 0;
        auto registration = KeyDispatcher::instance().add([&](QKeyEvent& event) {
            offered += event.key() == key;
            return consume;
        });
        QTest::keyClick(nested.field, Qt::Key(key));
        QTest::keyClick(nested.field, Qt::Key(key));
        QCOMPARE(offered, 2);
    }

    void aConsumedKeyGoesNoFurther_data() {
        QTest::addColumn<bool>("consume");
        QTest::addColumn<QString>("text");
        QTest::newRow("consumed") << true << QString();
        QTest::newRow("passed on") << false << QStringLiteral("a");
    }
    void aConsumedKeyGoesNoFurther() {
        QFETCH(bool, consume);
        QFETCH(QString, text);
        NestedWindow nested;
        nested.window.show();
        auto registration = KeyDispatcher::instance().add([&](QKeyEvent&) { return consume; });
        QTest::keyClick(nested.field, Qt::Key_A);
        QCOMPARE(nested.field->text(), text);
    }

    void newestHandlerFirstUntilOneConsumes() {
        QWidget window;
        window.show();
        QStringList calls;
        auto older = KeyDispatcher::instance().add([&](QKeyEvent&) {
            calls << QStringLiteral("older");
            return true;
        });
        auto newer = KeyDispatcher::instance().add([&](QKeyEvent&) {
            calls << QStringLiteral("newer");
            return false;
        });
        QTest::keyClick(&window, Qt::Key_Return);
        QCOMPARE(calls, (QStringList{QStringLiteral("newer"), QStringLiteral("older")}));
        calls.clear();
        newer.reset();
        QTest::keyClick(&window, Qt::Key_Return);
        QCOMPARE(calls, QStringList{QStringLiteral("older")});
    }

    void aHandlerMayRemoveItselfAndOthers() {
        QWidget window;
        window.show();
        const int before = KeyDispatcher::instance().handlerCount();
        int laterCalls = 0;
        KeyDispatcher::Registration first;
        KeyDispatcher::Registration second = KeyDispatcher::instance().add([&](QKeyEvent&) {
            ++laterCalls;
            return false;
        });
        first = KeyDispatcher::instance().add([&](QKeyEvent&) {
            first.reset();
            second.reset();
            return false;
        });
        QTest::keyClick(&window, Qt::Key_Return);
        QCOMPARE(laterCalls, 0);
        QCOMPARE(KeyDispatcher::instance().handlerCount(), before);
    }

    void aRegistrationEndsWithItsOwner() {
        const int before = KeyDispatcher::instance().handlerCount();
        {
            auto registration = KeyDispatcher::instance().add([](QKeyEvent&) { return false; });
            auto moved = std::move(registration);
            QVERIFY(!registration);
            QCOMPARE(KeyDispatcher::instance().handlerCount(), before + 1);
        }
        QCOMPARE(KeyDispatcher::instance().handlerCount(), before);
    }

    void aScreenShownAgainHandlesReturnOnce_data() {
        QTest::addColumn<int>("cycles");
        QTest::newRow("shown once") << 0;
        QTest::newRow("hidden and shown again") << 1;
        QTest::newRow("three times again") << 3;
    }
    void aScreenShownAgainHandlesReturnOnce() {
        QFETCH(int, cycles);
        QWidget window;
        auto* screen = new QWidget(&window);
        int actions = 0;
        auto* monitor = new KeyMonitor(screen, [&](QKeyEvent& event) {
            if (!isReturnKey(event))
                return false;
            ++actions;
            return true;
        });
        QVERIFY(!monitor->isInstalled());
        window.show();
        QVERIFY(monitor->isInstalled());
        for (int i = 0; i < cycles; ++i) {
            screen->hide();
            QVERIFY(!monitor->isInstalled());
            QTest::keyClick(&window, Qt::Key_Return);
            screen->show();
        }
        QCOMPARE(actions, 0);
        QTest::keyClick(&window, Qt::Key_Return);
        QCOMPARE(actions, 1);
        const int installed = KeyDispatcher::instance().handlerCount();
        delete screen;
        QCOMPARE(KeyDispatcher::instance().handlerCount(), installed - 1);
    }

    void aHiddenWindowTakesItsScreensHandlersAway() {
        QWidget window;
        auto* screen = new QWidget(&window);
        auto* monitor = new KeyMonitor(screen, [](QKeyEvent&) { return true; });
        window.show();
        QVERIFY(monitor->isInstalled());
        window.hide();
        QVERIFY(!monitor->isInstalled());
    }

    void theFocusFrameFollowsThePublishedField_data() {
        QTest::addColumn<std::optional<Field>>("published");
        QTest::addColumn<bool>("framed");
        QTest::newRow("own field") << std::optional<Field>(Field::unlockApp) << true;
        QTest::newRow("field of another screen") << std::optional<Field>(Field::authCode) << false;
        QTest::newRow("unfocus") << std::optional<Field>(Field::unfocus) << false;
        QTest::newRow("none") << std::optional<Field>() << false;
        QTest::newRow("field without control") << std::optional<Field>(Field::loginSubmitButton) << false;
    }
    void theFocusFrameFollowsThePublishedField() {
        QFETCH(std::optional<Field>, published);
        QFETCH(bool, framed);
        QWidget window;
        window.setStyleSheet(QStringLiteral("background: black;"));
        auto* button = new QPushButton(QStringLiteral("Yes"), &window);
        button->setGeometry(10, 10, 140, 30);
        auto* follower = FocusFollower::frame(*m_model, Field::unlockApp, button);
        window.resize(160, 50);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        publishFocus(*m_model, Field::unlockApp);
        QVERIFY(follower->holdsFocus());
        publishFocus(*m_model, published);
        QCOMPARE(follower->holdsFocus(), framed);
        const QImage shown = window.grab().toImage();
        QCOMPARE(shown.pixelColor(12, 10) == QColor(Qt::white), framed);
    }

    void theFocusFrameIsDashedFiveOnFiveOff() {
        QWidget window;
        window.setStyleSheet(QStringLiteral("background: black;"));
        auto* cell = new QWidget(&window);
        cell->setGeometry(0, 0, 140, 30);
        FocusFollower::frame(*m_model, Field::removeYes, cell);
        window.resize(140, 30);
        window.show();
        publishFocus(*m_model, Field::removeYes);
        const QImage shown = window.grab().toImage();
        widgettest::saveScreenshot(window, QStringLiteral("focus-frame"));
        for (int x = 0; x < 40; ++x) {
            const bool dash = (x / 5) % 2 == 0;
            QCOMPARE(shown.pixelColor(x, 0) == QColor(Qt::white), dash);
        }
        // Square corners: the corner pixel itself is drawn, all four edges carry dashes, the inside none.
        QCOMPARE(shown.pixelColor(0, 0), QColor(Qt::white));
        int right = 0, bottom = 0, left = 0, inside = 0;
        for (int y = 0; y < 30; ++y) {
            right += shown.pixelColor(139, y) == QColor(Qt::white);
            left += shown.pixelColor(0, y) == QColor(Qt::white);
            inside += shown.pixelColor(70, y) == QColor(Qt::white) && y > 0 && y < 29;
        }
        for (int x = 0; x < 140; ++x)
            bottom += shown.pixelColor(x, 29) == QColor(Qt::white);
        QVERIFY(right >= 10 && left >= 10 && bottom >= 60);
        QCOMPARE(inside, 0);
    }

    void aTextFieldTakesTheKeyboardForItsField() {
        QWidget window;
        auto* email = new QLineEdit(&window);
        auto* button = new QPushButton(QStringLiteral("Submit"), &window);
        email->setGeometry(0, 0, 100, 20);
        button->setGeometry(0, 30, 100, 20);
        FocusFollower::keyboard(*m_model, Field::regOrgEmail, email);
        FocusFollower::frame(*m_model, Field::regSubmitButton, button);
        QVERIFY(widgettest::showActive(window));

        publishFocus(*m_model, Field::regOrgEmail);
        QCOMPARE(QApplication::focusWidget(), email);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("a@b"));
        QCOMPARE(email->text(), QStringLiteral("a@b"));

        // A button's field parks the keyboard: typing no longer reaches the text field.
        publishFocus(*m_model, Field::regSubmitButton);
        QCOMPARE(QApplication::focusWidget(), FocusSink::of(&window));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("x"));
        QCOMPARE(email->text(), QStringLiteral("a@b"));

        publishFocus(*m_model, Field::regOrgEmail);
        QCOMPARE(QApplication::focusWidget(), email);
        publishFocus(*m_model, Field::unfocus);
        QCOMPARE(QApplication::focusWidget(), FocusSink::of(&window));
    }

    void keyPressHandlingViewActsOnReturnOnly_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("actions");
        QTest::newRow("Return") << int(Qt::Key_Return) << 1;
        QTest::newRow("Enter") << int(Qt::Key_Enter) << 1;
        QTest::newRow("letter") << int(Qt::Key_A) << 0;
        QTest::newRow("Tab") << int(Qt::Key_Tab) << 0;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << 0;
    }
    void keyPressHandlingViewActsOnReturnOnly() {
        QFETCH(int, key);
        QFETCH(int, actions);
        QWidget window;
        int pressed = 0;
        // First in the focus chain, the text field would get the keyboard if the view did not take it.
        auto* other = new QLineEdit(&window);
        auto* view = new KeyPressHandlingView([&pressed] { ++pressed; }, &window);
        view->move(0, 30);
        QVERIFY(widgettest::showActive(window));
        widgettest::settle();
        QCOMPARE(QApplication::focusWidget(), view);
        QTest::keyClick(view, Qt::Key(key));
        QCOMPARE(pressed, actions);
        QCOMPARE(QApplication::focusWidget(), view);
        QVERIFY(other->text().isEmpty());
    }
};

QTEST_MAIN(KeysAndFocusTest)
#include "tst_keysandfocus.moc"
