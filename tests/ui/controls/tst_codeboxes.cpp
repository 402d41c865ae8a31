#include "support/WidgetTestSupport.h"
#include "ui/controls/CustomTextField.h"
#include "ui/controls/FocusFollower.h"
#include "ui/controls/InfoTooltipButton.h"
#include "ui/controls/OTPFieldView.h"
#include "ui/controls/OtpFormFieldView.h"
#include "ui/controls/TooltipBubble.h"

#include <QApplication>
#include <QClipboard>
#include <QEnterEvent>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using widgettest::settle;

namespace {

struct ValueChange {
    QString text;
    int index;
    bool operator==(const ValueChange&) const = default;
};

// A shown, active window with one row of six boxes, recording what the row reports.
struct RowFixture {
    QWidget window;
    OTPFieldView* row;
    QList<ValueChange> changes;

    explicit RowFixture(bool isSecure = false, const QString& otpBeforeShow = QString()) {
        row = new OTPFieldView(6, isSecure, &window);
        (new QVBoxLayout(&window))->addWidget(row);
        window.resize(312, 60);
        row->setOnValueChange([this](const QString& text, int index) { changes.append({text, index}); });
        row->setOtp(otpBeforeShow);
    }
    bool active() { return widgettest::showActive(window); }
    QStringList boxes() const {
        QStringList texts;
        for (int i = 0; i < row->numberOfFields(); ++i)
            texts << row->box(i)->text();
        return texts;
    }
    void type(int index, const QString& text) {
        row->box(index)->setFocus();
        // keyClicks() knows Latin-1 only; other scripts' digits are typed as text.
        for (const QChar character : text)
            QTest::sendKeyEvent(QTest::Click, row->box(index), Qt::Key_unknown, QString(character), Qt::NoModifier);
        settle();
    }
    void paste(int index, const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        row->box(index)->setFocus();
        QTest::keyClick(row->box(index), Qt::Key_V, Qt::ControlModifier);
    }
};

QStringList split(const QString& boxes) {
    return boxes.split(u'|');
}

} // namespace

class CodeBoxesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { widgettest::makeAppViewModel(); }

    void typingIntoABox_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<std::optional<int>>("focusAfter");
        QTest::addColumn<QString>("otp");
        // Boxes 0 and 1 hold "1" and "2" before.
        QTest::newRow("a digit moves on") << 2 << QStringLiteral("7") << QStringLiteral("1|2|7|||") << std::optional<int>(3) << QStringLiteral("127");
        QTest::newRow("the last box keeps the focus") << 5 << QStringLiteral("9") << QStringLiteral("1|2||||9") << std::optional<int>(5) << QStringLiteral("129");
        QTest::newRow("a letter empties the box") << 2 << QStringLiteral("a") << QStringLiteral("1|2||||") << std::optional<int>(2) << QStringLiteral("12");
        QTest::newRow("a plus sign") << 2 << QStringLiteral("+") << QStringLiteral("1|2||||") << std::optional<int>(2) << QStringLiteral("12");
        QTest::newRow("a minus sign") << 2 << QStringLiteral("-") << QStringLiteral("1|2||||") << std::optional<int>(2) << QStringLiteral("12");
        QTest::newRow("a full-width digit") << 2 << QStringLiteral("５") << QStringLiteral("1|2||||") << std::optional<int>(2) << QStringLiteral("12");
        QTest::newRow("an Arabic-Indic digit") << 2 << QStringLiteral("٣") << QStringLiteral("1|2||||") << std::optional<int>(2) << QStringLiteral("12");
    }
    void typingIntoABox() {
        QFETCH(int, index);
        QFETCH(QString, typed);
        QFETCH(QString, boxes);
        QFETCH(std::optional<int>, focusAfter);
        QFETCH(QString, otp);
        RowFixture fixture;
        QVERIFY(fixture.active());
        fixture.type(0, QStringLiteral("1"));
        QCOMPARE(fixture.row->focusedBox(), std::optional<int>(1));
        fixture.type(1, QStringLiteral("2"));
        fixture.changes.clear();
        fixture.type(index, typed);
        QCOMPARE(fixture.boxes(), split(boxes));
        QCOMPARE(fixture.row->focusedBox(), focusAfter);
        QCOMPARE(fixture.row->otp(), otp);
        QCOMPARE(fixture.changes, (QList<ValueChange>{{fixture.row->box(index)->text(), index}}));
    }

    void pasting_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<QString>("otp");
        QTest::addColumn<int>("changesAtOnce");
        QTest::addColumn<std::optional<int>>("focusAfter");
        QTest::newRow("full code into box 0") << 0 << QStringLiteral("123456") << QStringLiteral("1|2|3|4|5|6") << QStringLiteral("123456") << 6 << std::optional<int>();
        QTest::newRow("full code into box 3") << 3 << QStringLiteral("123456") << QStringLiteral("1|2|3|4|5|6") << QStringLiteral("123456") << 6 << std::optional<int>();
        QTest::newRow("two digits") << 0 << QStringLiteral("12") << QStringLiteral("1|||||") << QStringLiteral("1") << 0 << std::optional<int>(1);
        QTest::newRow("a signed code") << 0 << QStringLiteral("+12345") << QStringLiteral("|||||") << QString() << 0 << std::optional<int>(0);
        QTest::newRow("a negative code") << 0 << QStringLiteral("-12345") << QStringLiteral("|||||") << QString() << 0 << std::optional<int>(0);
        QTest::newRow("full-width digits") << 0 << QStringLiteral("１２３４５６") << QStringLiteral("|||||") << QString() << 0 << std::optional<int>(0);
        QTest::newRow("a letter inside") << 0 << QStringLiteral("12a456") << QStringLiteral("|||||") << QString() << 0 << std::optional<int>(0);
        QTest::newRow("seven digits") << 0 << QStringLiteral("1234567") << QStringLiteral("1|||||") << QStringLiteral("1") << 0 << std::optional<int>(1);
    }
    void pasting() {
        QFETCH(int, index);
        QFETCH(QString, pasted);
        QFETCH(QString, boxes);
        QFETCH(QString, otp);
        QFETCH(int, changesAtOnce);
        QFETCH(std::optional<int>, focusAfter);
        RowFixture fixture;
        QVERIFY(fixture.active());
        QStringList written;
        connect(fixture.row, &OTPFieldView::otpChanged, this, [&written](const QString& value) { written << value; });
        fixture.paste(index, pasted);
        QCOMPARE(fixture.changes.size(), changesAtOnce);
        for (int i = 0; i < changesAtOnce; ++i)
            QCOMPARE(fixture.changes.at(i), (ValueChange{pasted.mid(i, 1), i}));
        settle();
        QCOMPARE(fixture.boxes(), split(boxes));
        QCOMPARE(fixture.row->otp(), otp);
        QCOMPARE(fixture.row->focusedBox(), focusAfter);
        if (changesAtOnce > 0) {
            // The six reports are all there are: the box's own change adds none.
            QCOMPARE(fixture.changes.size(), changesAtOnce);
            QCOMPARE(written.first(), pasted);
        }
    }

    void backspace_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<int>("focusAfter");
        QTest::addColumn<QString>("otp");
        QTest::newRow("box 3") << 3 << QStringLiteral("1|2|3||5|6") << 2 << QStringLiteral("12356");
        QTest::newRow("box 0") << 0 << QStringLiteral("|2|3|4|5|6") << 0 << QStringLiteral("23456");
        QTest::newRow("last box") << 5 << QStringLiteral("1|2|3|4|5|") << 4 << QStringLiteral("12345");
    }
    void backspace() {
        QFETCH(int, index);
        QFETCH(QString, boxes);
        QFETCH(int, focusAfter);
        QFETCH(QString, otp);
        RowFixture fixture;
        QVERIFY(fixture.active());
        fixture.row->box(0)->setFocus();
        for (const QChar digit : QStringLiteral("123456"))
            QTest::keyClicks(QApplication::focusWidget(), QString(digit));
        settle();
        QCOMPARE(fixture.row->otp(), QStringLiteral("123456"));
        fixture.row->box(index)->setFocus();
        QTest::keyClick(fixture.row->box(index), Qt::Key_Backspace);
        QCOMPARE(fixture.boxes(), split(boxes));
        QCOMPARE(fixture.row->focusedBox(), std::optional<int>(focusAfter));
        QCOMPARE(fixture.row->otp(), otp);
    }

    // Secret rows used to keep their characters: dots hid an empty code and the next edit brought the old
    // digits back into it.
    void clearingTheCodeFromOutsideEmptiesEveryBox_data() {
        QTest::addColumn<bool>("isSecure");
        QTest::addColumn<std::optional<int>>("focusedBefore");
        QTest::addColumn<std::optional<int>>("focusAfter");
        QTest::newRow("plain, box 3 focused") << false << std::optional<int>(3) << std::optional<int>();
        QTest::newRow("plain, box 0 focused") << false << std::optional<int>(0) << std::optional<int>(0);
        QTest::newRow("plain, nothing focused") << false << std::optional<int>() << std::optional<int>();
        QTest::newRow("secret, box 3 focused") << true << std::optional<int>(3) << std::optional<int>();
        QTest::newRow("secret, box 0 focused") << true << std::optional<int>(0) << std::optional<int>(0);
    }
    void clearingTheCodeFromOutsideEmptiesEveryBox() {
        QFETCH(bool, isSecure);
        QFETCH(std::optional<int>, focusedBefore);
        QFETCH(std::optional<int>, focusAfter);
        RowFixture fixture(isSecure);
        QVERIFY(fixture.active());
        fixture.paste(0, QStringLiteral("482913"));
        settle();
        QCOMPARE(fixture.row->otp(), QStringLiteral("482913"));
        if (focusedBefore)
            fixture.row->box(*focusedBefore)->setFocus();
        fixture.row->setOtp(QString());
        QCOMPARE(fixture.boxes(), split(QStringLiteral("|||||")));
        QCOMPARE(fixture.row->focusedBox(), focusAfter);
        // The next digit starts a new code; nothing of the old one comes back.
        fixture.type(0, QStringLiteral("5"));
        QCOMPARE(fixture.row->otp(), QStringLiteral("5"));
    }

    void aCodeSetBeforeShowingFillsTheBoxes_data() {
        QTest::addColumn<QString>("otp");
        QTest::addColumn<QString>("boxes");
        QTest::newRow("full") << QStringLiteral("246810") << QStringLiteral("2|4|6|8|1|0");
        QTest::newRow("short") << QStringLiteral("24") << QStringLiteral("2|4||||");
        QTest::newRow("too long") << QStringLiteral("24681012") << QStringLiteral("2|4|6|8|1|0");
    }
    void aCodeSetBeforeShowingFillsTheBoxes() {
        QFETCH(QString, otp);
        QFETCH(QString, boxes);
        RowFixture fixture(true, otp);
        QVERIFY(fixture.active());
        QCOMPARE(fixture.boxes(), split(boxes));
    }

    void theEyeToggleKeepsTheDigits() {
        QWidget window;
        auto* form = new OtpFormFieldView(TextFieldType::createPin, true, &window);
        (new QVBoxLayout(&window))->addWidget(form);
        QVERIFY(widgettest::showActive(window));
        form->codeBoxes()->box(0)->setFocus();
        for (const QChar digit : QStringLiteral("135"))
            QTest::keyClicks(QApplication::focusWidget(), QString(digit));
        QCOMPARE(form->codeBoxes()->box(1)->echoMode(), QLineEdit::Password);
        QCOMPARE(form->eyeToggle()->accessibleName(), QStringLiteral("eye.slash.fill"));

        QTest::mouseClick(form->eyeToggle(), Qt::LeftButton);
        QVERIFY(!form->isSecure());
        QCOMPARE(form->eyeToggle()->accessibleName(), QStringLiteral("eye.fill"));
        QCOMPARE(form->codeBoxes()->box(1)->echoMode(), QLineEdit::Normal);
        QCOMPARE(form->otpValue(), QStringLiteral("135"));
        QCOMPARE(form->codeBoxes()->box(2)->text(), QStringLiteral("5"));

        QTest::mouseClick(form->eyeToggle(), Qt::LeftButton);
        QVERIFY(form->isSecure());
        QCOMPARE(form->codeBoxes()->box(5)->echoMode(), QLineEdit::Password);
        QCOMPARE(form->otpValue(), QStringLiteral("135"));
    }

    void whatEachKindShows_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("isSecure");
        QTest::addColumn<bool>("info");
        QTest::addColumn<bool>("toggle");
        QTest::addColumn<bool>("secretShown");
        QTest::newRow("createPin") << int(TextFieldType::createPin) << true << true << true << true;
        QTest::newRow("confirmPin") << int(TextFieldType::confirmPin) << true << false << true << true;
        QTest::newRow("enterPin plain") << int(TextFieldType::enterPin) << false << false << true << false;
        QTest::newRow("activationCode made secret") << int(TextFieldType::activationCode) << true << false << false << false;
        QTest::newRow("enterCode") << int(TextFieldType::enterCode) << true << false << false << true;
    }
    void whatEachKindShows() {
        QFETCH(int, kind);
        QFETCH(bool, isSecure);
        QFETCH(bool, info);
        QFETCH(bool, toggle);
        QFETCH(bool, secretShown);
        QWidget window;
        const TextFieldType type(static_cast<TextFieldType::Case>(kind));
        auto* form = new OtpFormFieldView(type, isSecure, &window);
        window.show();
        QCOMPARE(form->size(), OtpFormFieldView::frameSize);
        QCOMPARE(form->findChild<QLabel*>(QStringLiteral("title"))->text(), type.rawValue());
        QCOMPARE(form->infoButton() != nullptr, info);
        QCOMPARE(form->eyeToggle() != nullptr, toggle);
        QCOMPARE(form->isSecure(), secretShown);
        QCOMPARE(form->codeBoxes()->box(0)->echoMode(), secretShown ? QLineEdit::Password : QLineEdit::Normal);
        QCOMPARE(form->codeBoxes()->numberOfFields(), 6);
    }

    void hoveringShowsThePinRules() {
        QWidget window;
        window.resize(500, 200);
        auto* form = new OtpFormFieldView(TextFieldType::createPin, true, &window);
        form->move(20, 120);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!form->showTooltip());
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QCoreApplication::sendEvent(form->infoButton(), &enter);
        QVERIFY(form->showTooltip());
        QCOMPARE(form->infoButton()->bubble()->text(), OtpFormFieldView::pinRulesTooltip);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(form->infoButton(), &leave);
        QVERIFY(!form->showTooltip());
    }

    void thePinFieldTakesTheKeyboardForItsField() {
        auto model = widgettest::makeAppViewModel();
        QWidget window;
        auto* form = new OtpFormFieldView(TextFieldType::enterPin, true, &window);
        FocusFollower::keyboard(*model, Field::loginPassword, form);
        QVERIFY(widgettest::showActive(window));
        widgettest::publishFocus(*model, Field::loginPassword);
        QCOMPARE(form->codeBoxes()->focusedBox(), std::optional<int>(0));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("4"));
        QCOMPARE(form->codeBoxes()->focusedBox(), std::optional<int>(1));
        widgettest::publishFocus(*model, Field::unlockApp);
        QCOMPARE(form->codeBoxes()->focusedBox(), std::nullopt);
    }
};

QTEST_MAIN(CodeBoxesTest)
#include "tst_codeboxes.moc"
