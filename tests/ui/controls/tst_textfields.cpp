#include "support/WidgetTestSupport.h"
#include "ui/controls/CustomTextField.h"
#include "ui/controls/InfoTooltipButton.h"
#include "ui/controls/KeyDispatcher.h"
#include "ui/controls/RequiredMark.h"
#include "ui/controls/UnderlinedTextField.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using widgettest::consoleLines;
using widgettest::settle;

class TextFieldsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<AppViewModel> m_model;

private slots:
    void initTestCase() { m_model = widgettest::makeAppViewModel(); }
    void init() { consoleLines().clear(); }

    void oneValueChangePerTypedCharacter_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("one digit") << QStringLiteral("7");
        QTest::newRow("code") << QStringLiteral("ab12");
        QTest::newRow("with a blank") << QStringLiteral("a b");
    }
    void oneValueChangePerTypedCharacter() {
        QFETCH(QString, typed);
        QWidget window;
        auto* field = new CustomTextField(false, Qt::AlignLeft, &window);
        QString bound;
        connect(field, &CustomTextField::textWritten, this, [&bound](const QString& text) { bound = text; });
        QStringList changes;
        QStringList boundAtChange;
        field->setOnValueChange([&](const QString& value) {
            changes << value;
            boundAtChange << bound;
        });
        QVERIFY(widgettest::showActive(window));
        field->setFocus();
        for (int i = 0; i < typed.size(); ++i) {
            QTest::keyClicks(field, typed.mid(i, 1));
            // The change is reported on a later turn of the event loop, not within the key press.
            QCOMPARE(changes.size(), i);
            settle();
        }
        QCOMPARE(changes.size(), typed.size());
        QCOMPARE(changes.last(), typed);
        QCOMPARE(boundAtChange, changes);
    }

    void returnKeepsTheTextAndEditing_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
    }
    void returnKeepsTheTextAndEditing() {
        QFETCH(int, key);
        QWidget window;
        auto* field = new CustomTextField(false, Qt::AlignLeft, &window);
        QSignalSpy returned(field, &QLineEdit::returnPressed);
        QSignalSpy finished(field, &QLineEdit::editingFinished);
        QVERIFY(widgettest::showActive(window));
        field->setFocus();
        QTest::keyClicks(field, QStringLiteral("abc"));
        consoleLines().clear();
        QTest::keyClick(field, Qt::Key(key));
        QCOMPARE(field->text(), QStringLiteral("abc"));
        QCOMPARE(consoleLines(), QStringList{QStringLiteral("Enter pressed")});
        QCOMPARE(returned.size(), 0);
        QCOMPARE(finished.size(), 0);
        QVERIFY(field->hasFocus());
    }

    void aClickTapsAfterTheFieldTookTheClick() {
        QWidget window;
        auto* other = new CustomTextField(false, Qt::AlignLeft, &window);
        auto* field = new CustomTextField(false, Qt::AlignLeft, &window);
        field->move(0, 40);
        QList<bool> focusedAtTap;
        field->setTapAction([&] { focusedAtTap << field->hasFocus(); });
        QVERIFY(widgettest::showActive(window));
        other->setFocus();
        QTest::mouseClick(field, Qt::LeftButton);
        QCOMPARE(focusedAtTap, QList<bool>{true});
        QVERIFY(consoleLines().isEmpty());

        // Starting to type counts as the start of editing once.
        QTest::keyClicks(field, QStringLiteral("12"));
        QCOMPARE(focusedAtTap.size(), 2);
        QCOMPARE(consoleLines(), QStringList{QStringLiteral("NSTextField clicked/focused")});

        // After the field lost the keyboard, the next change starts editing again.
        other->setFocus();
        field->setFocus();
        QTest::keyClicks(field, QStringLiteral("3"));
        QCOMPARE(focusedAtTap.size(), 3);
    }

    void secretEntryIsChosenWhenMade_data() {
        QTest::addColumn<bool>("isSecure");
        QTest::newRow("secret") << true;
        QTest::newRow("plain") << false;
    }
    void secretEntryIsChosenWhenMade() {
        QFETCH(bool, isSecure);
        CustomTextField field(isSecure, Qt::AlignCenter);
        QCOMPARE(field.echoMode(), isSecure ? QLineEdit::Password : QLineEdit::Normal);
        QVERIFY(!field.hasFrame());
    }

    void tabDoesNotMoveQtsFocus() {
        QWidget window;
        auto* first = new CustomTextField(false, Qt::AlignLeft, &window);
        auto* second = new CustomTextField(false, Qt::AlignLeft, &window);
        second->move(0, 40);
        int tabsSeen = 0;
        auto registration = KeyDispatcher::instance().add([&](QKeyEvent& event) {
            tabsSeen += event.key() == Qt::Key_Tab;
            return false;
        });
        QVERIFY(widgettest::showActive(window));
        first->setFocus();
        QTest::keyClick(first, Qt::Key_Tab);
        QTest::keyClick(first, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), first);
        QCOMPARE(tabsSeen, 1);
        Q_UNUSED(second);
    }

    void underlinedFieldMarks_data() {
        QTest::addColumn<int>("type"); // -1: none
        QTest::addColumn<bool>("marked");
        QTest::newRow("enterCode") << int(TextFieldType::enterCode) << false;
        QTest::newRow("activationCode") << int(TextFieldType::activationCode) << true;
        QTest::newRow("createPin") << int(TextFieldType::createPin) << true;
        QTest::newRow("none") << -1 << true;
    }
    void underlinedFieldMarks() {
        QFETCH(int, type);
        QFETCH(bool, marked);
        std::optional<TextFieldType> kind;
        if (type >= 0)
            kind = TextFieldType(TextFieldType::Case(type));
        QWidget window;
        auto* line = new UnderlinedTextField(QStringLiteral("Organization Email"), kind, &window);
        (new QVBoxLayout(&window))->addWidget(line);
        QVERIFY(widgettest::showActive(window));
        QCOMPARE(line->width(), UnderlinedTextField::lineWidth);
        QCOMPARE(line->requiredMark() != nullptr && line->requiredMark()->isVisible(), marked);
        QCOMPARE(line->infoButton() != nullptr && line->infoButton()->isVisible(), !marked);
        QCOMPARE(line->findChildren<RequiredMark*>().size(), marked ? 1 : 0);
        QCOMPARE(line->findChildren<InfoTooltipButton*>().size(), marked ? 0 : 1);
    }

    void underlinedFieldReportsTheUsersTextOnly() {
        QWidget window;
        widgettest::useWindowLook(window);
        auto* line = new UnderlinedTextField(QStringLiteral("Enter Code"), TextFieldType::enterCode, &window);
        // Laid out, so that the window takes the field's own height and the picture shows all of it.
        (new QVBoxLayout(&window))->addWidget(line);
        QSignalSpy written(line, &UnderlinedTextField::textWritten);
        int taps = 0;
        line->setOnTap([&taps] { ++taps; });
        QVERIFY(widgettest::showActive(window));
        line->setText(QStringLiteral("from the model"));
        QCOMPARE(written.size(), 0);
        line->setText(QString());
        QTest::mouseClick(line->field(), Qt::LeftButton);
        QTest::keyClicks(line->field(), QStringLiteral("QR"));
        QCOMPARE(written.size(), 2);
        QCOMPARE(line->text(), QStringLiteral("QR"));
        QCOMPARE(taps, 2);
        widgettest::saveScreenshot(window, QStringLiteral("underlined-text-field"));
    }
};

QTEST_MAIN(TextFieldsTest)
#include "tst_textfields.moc"
