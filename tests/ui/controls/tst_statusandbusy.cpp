#include "support/WidgetTestSupport.h"
#include "ui/controls/ConfirmationDialogView.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/controls/FocusFrame.h"
#include "ui/controls/InfoTooltipButton.h"
#include "ui/controls/KeyDispatcher.h"
#include "ui/controls/LoadingCircleBlinks.h"
#include "ui/controls/LoadingIndicator.h"
#include "ui/controls/SemanticColor.h"
#include "ui/controls/TooltipBubble.h"

#include <QApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using widgettest::publishFocus;
using widgettest::settle;

namespace {

ConfirmationDialogView::Content removalContent() {
    return {{{{QStringLiteral("Are you sure you want to remove"), FontFace::bold, 14},
              {QStringLiteral("yourself from the device?"), FontFace::bold, 14},
              {QStringLiteral("You will be logged out if you continue"), FontFace::regular, 13}}},
            QStringLiteral("Yes"),
            Field::removeYes,
            QStringLiteral("Cancel"),
            Field::removeNo,
            Field::authCode};
}

bool frameShown(QPushButton* button) {
    return button->parentWidget()->findChild<FocusFrame*>()->isVisible();
}

} // namespace

class StatusAndBusyTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<AppViewModel> m_model;

private slots:
    void init() { m_model = widgettest::makeAppViewModel(); }
    void cleanup() { m_model.reset(); }

    void dotOpacities_data() {
        QTest::addColumn<int>("counter");
        QTest::addColumn<int>("index");
        QTest::addColumn<qreal>("opacity");
        QTest::newRow("0: dot 0 bright") << 0 << 0 << 1.0;
        QTest::newRow("0: no trail over the wrap, dot 7") << 0 << 7 << 0.0;
        QTest::newRow("0: dot 4") << 0 << 4 << 0.0;
        QTest::newRow("7: dot 7") << 7 << 7 << 1.0;
        QTest::newRow("7: dot 6") << 7 << 6 << 0.5;
        QTest::newRow("7: dot 5") << 7 << 5 << 0.3;
        QTest::newRow("7: dot 4") << 7 << 4 << 0.2;
        QTest::newRow("7: dot 3") << 7 << 3 << 0.1;
        QTest::newRow("7: dot 2") << 7 << 2 << 0.0;
        QTest::newRow("7: dot 0") << 7 << 0 << 0.0;
        QTest::newRow("2: dot 3 ahead") << 2 << 3 << 0.0;
    }
    void dotOpacities() {
        QFETCH(int, counter);
        QFETCH(int, index);
        QFETCH(qreal, opacity);
        QCOMPARE(LoadingCircleBlinks::opacity(counter, index), opacity);
    }

    void theCounterWrapsFromSevenToZero() {
        LoadingCircleBlinks ring(Qt::yellow, 50, 0.25);
        for (int step = 1; step <= 7; ++step) {
            ring.tick();
            QCOMPARE(ring.counter(), step);
        }
        ring.tick();
        QCOMPARE(ring.counter(), 0);
    }

    void sizesAndSpeedsFromRawValues_data() {
        QTest::addColumn<bool>("isSize");
        QTest::addColumn<double>("raw");
        QTest::addColumn<int>("expected"); // -1: no case
        QTest::newRow("size 25") << true << 25.0 << int(LoadingIndicator::Size::small);
        QTest::newRow("size 50") << true << 50.0 << int(LoadingIndicator::Size::medium);
        QTest::newRow("size 150") << true << 150.0 << int(LoadingIndicator::Size::extraLarge);
        QTest::newRow("size 60") << true << 60.0 << -1;
        QTest::newRow("speed 1.0") << false << 1.0 << int(LoadingIndicator::Speed::slow);
        QTest::newRow("speed 0.25") << false << 0.25 << int(LoadingIndicator::Speed::fast);
        QTest::newRow("speed 0.75") << false << 0.75 << -1;
    }
    void sizesAndSpeedsFromRawValues() {
        QFETCH(bool, isSize);
        QFETCH(double, raw);
        QFETCH(int, expected);
        std::optional<int> found;
        if (isSize) {
            if (auto size = LoadingIndicator::sizeFromRaw(raw))
                found = int(*size);
        } else if (auto speed = LoadingIndicator::speedFromRaw(raw)) {
            found = int(*speed);
        }
        QCOMPARE(found.value_or(-1), expected);
    }

    void dotsAreAFifthOfTheRing_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("dot");
        QTest::newRow("small") << 25 << 5;
        QTest::newRow("extra large") << 150 << 30;
    }
    void dotsAreAFifthOfTheRing() {
        QFETCH(int, size);
        QFETCH(int, dot);
        const auto sizeCase = LoadingIndicator::sizeFromRaw(size);
        QVERIFY(sizeCase);
        LoadingIndicator indicator(LoadingIndicator::LoadingAnimation::circleBlinks, *sizeCase,
                                   LoadingIndicator::Speed::slow, Qt::yellow);
        indicator.show();
        QCOMPARE(indicator.circleBlinks()->size(), QSize(size, size));
        const QImage image = indicator.circleBlinks()->grab().toImage();
        // Counter 0: only the top dot, centred, a fifth of the side across.
        int rows = 0, columns = 0;
        const auto isDot = [&image](int x, int y) { return qBlue(image.pixel(x, y)) < 100; };
        for (int y = 0; y < size; ++y)
            rows += isDot(size / 2, y);
        for (int x = 0; x < size; ++x)
            columns += isDot(x, dot / 2);
        QVERIFY2(qAbs(rows - dot) <= 1, qPrintable(QString::number(rows)));
        QVERIFY2(qAbs(columns - dot) <= 1, qPrintable(QString::number(columns)));
    }

    void theRingRunsOnATimerAndStartsAgainWhenShown_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("interval");
        QTest::newRow("fast") << int(LoadingIndicator::Speed::fast) << 125;
        QTest::newRow("normal") << int(LoadingIndicator::Speed::normal) << 250;
        QTest::newRow("slow") << int(LoadingIndicator::Speed::slow) << 500;
    }
    void theRingRunsOnATimerAndStartsAgainWhenShown() {
        QFETCH(int, speed);
        QFETCH(int, interval);
        LoadingIndicator indicator(LoadingIndicator::LoadingAnimation::circleBlinks, LoadingIndicator::Size::medium,
                                   LoadingIndicator::Speed(speed), namedColor(QStringLiteral("Yellow")));
        LoadingCircleBlinks* ring = indicator.circleBlinks();
        QCOMPARE(ring->timing(), std::chrono::milliseconds(interval));
        QVERIFY(!ring->isRunning());
        indicator.show();
        QVERIFY(ring->isRunning());
        ring->tick();
        ring->tick();
        indicator.hide();
        QVERIFY(!ring->isRunning());
        indicator.show();
        QCOMPARE(ring->counter(), 0);
        if (speed == int(LoadingIndicator::Speed::fast))
            QTRY_VERIFY_WITH_TIMEOUT(ring->counter() > 0, 5000);
    }

    // A step fades the dots to their new opacities, easing in and out over the step's time, then plays
    // the fade back once; it never switches them at once.
    void theDotsFadeBetweenSteps_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("duration");
        QTest::newRow("fast") << int(LoadingIndicator::Speed::fast) << 125;
        QTest::newRow("normal") << int(LoadingIndicator::Speed::normal) << 250;
        QTest::newRow("slow") << int(LoadingIndicator::Speed::slow) << 500;
    }
    void theDotsFadeBetweenSteps() {
        QFETCH(int, speed);
        QFETCH(int, duration);
        LoadingIndicator indicator(LoadingIndicator::LoadingAnimation::circleBlinks,
                                   LoadingIndicator::Size::medium, LoadingIndicator::Speed(speed),
                                   namedColor(QStringLiteral("Yellow")));
        LoadingCircleBlinks& ring = *indicator.circleBlinks();
        // Dot 1 lights up from 0 to 1.0; dot 0 dims from 1.0 to 0.5.
        ring.tick();
        QVariantAnimation& fade = ring.fade();
        QCOMPARE(fade.duration(), duration);
        QCOMPARE(fade.state(), QAbstractAnimation::Running);
        const auto at = [&](int time) {
            fade.setCurrentTime(time);
            return std::pair{ring.shownOpacity(1), ring.shownOpacity(0)};
        };
        QCOMPARE(at(0), std::pair(0.0, 1.0));
        // Slow at the start, half way at half time, slow again at the end.
        const auto [quarterBright, quarterDim] = at(duration / 4);
        QVERIFY2(quarterBright > 0 && quarterBright < 0.2, qPrintable(QString::number(quarterBright)));
        QVERIFY(quarterDim < 1.0 && quarterDim > 0.9);
        const auto [halfBright, halfDim] = at(duration / 2);
        QVERIFY(qAbs(halfBright - 0.5) < 0.02 && qAbs(halfDim - 0.75) < 0.01);
        QVERIFY(at(duration * 3 / 4).first > 0.8);
        QCOMPARE(at(duration), std::pair(1.0, 0.5));
        // Then back once, and the step's own look stays.
        QCOMPARE(fade.state(), QAbstractAnimation::Running);
        QCOMPARE(fade.direction(), QAbstractAnimation::Backward);
        QVERIFY(qAbs(at(duration / 2).first - 0.5) < 0.02);
        at(0);
        QCOMPARE(fade.state(), QAbstractAnimation::Stopped);
        QCOMPARE(std::pair(ring.shownOpacity(1), ring.shownOpacity(0)), std::pair(1.0, 0.5));
    }

    void theStatusLine_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<std::optional<bool>>("isSuccess");
        QTest::addColumn<QString>("symbol"); // empty: no icon
        QTest::addColumn<QColor>("tint");
        QTest::newRow("empty") << QString() << std::optional<bool>() << QString() << QColor();
        QTest::newRow("empty success") << QString() << std::optional<bool>(true) << QString() << QColor();
        QTest::newRow("a blank") << QStringLiteral(" ") << std::optional<bool>() << QStringLiteral("exclamationmark.triangle.fill") << QColor(Qt::red);
        QTest::newRow("success") << QStringLiteral("Authenticated") << std::optional<bool>(true)
                                 << QStringLiteral("checkmark.circle.fill") << QColor(Qt::green);
        QTest::newRow("failure") << QStringLiteral("Invalid PIN") << std::optional<bool>(false)
                                 << QStringLiteral("exclamationmark.triangle.fill") << QColor(Qt::red);
        QTest::newRow("no flag") << QStringLiteral("Invalid PIN") << std::optional<bool>()
                                 << QStringLiteral("exclamationmark.triangle.fill") << QColor(Qt::red);
    }
    void theStatusLine() {
        QFETCH(QString, message);
        QFETCH(std::optional<bool>, isSuccess);
        QFETCH(QString, symbol);
        QFETCH(QColor, tint);
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* status = new ErrorMessageView(&window);
        layout->addWidget(status);
        window.resize(700, 100);
        status->setMessage(QStringLiteral("something before"), true);
        status->setMessage(message, isSuccess);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(status->iconLabel()->isVisible(), !symbol.isEmpty());
        if (symbol.isEmpty()) {
            QCOMPARE(status->height(), ErrorMessageView::emptyHeight);
            return;
        }
        QCOMPARE(status->width(), ErrorMessageView::messageWidth);
        QCOMPARE(status->iconLabel()->accessibleName(), symbol);
        QCOMPARE(status->iconLabel()->mapTo(status, QPoint()).y(), 10);
        const QImage icon = status->iconLabel()->grab().toImage();
        const QPoint middle(icon.width() / 2, icon.height() * 3 / 4);
        QCOMPARE(icon.pixelColor(middle.x() - icon.width() / 4, middle.y()).rgb(), tint.rgb());
        QCOMPARE(status->messageLabel()->text(), message);
    }

    void aLongMessageWrapsBesideTheIcon() {
        QWidget window;
        widgettest::useWindowLook(window);
        auto* layout = new QVBoxLayout(&window);
        auto* status = new ErrorMessageView(&window);
        layout->addWidget(status);
        status->setMessage(QStringLiteral("The service could not verify this code because it has expired; ask "
                                          "for a new code on the sign-in page and enter it again within the time "
                                          "it gives, or call the help desk."));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const int oneLine = QFontMetrics(status->messageLabel()->font()).height();
        QVERIFY(status->messageLabel()->height() >= 2 * oneLine);
        QVERIFY(status->messageLabel()->width() < ErrorMessageView::messageWidth);
        QCOMPARE(status->iconLabel()->y(), status->messageLabel()->y());
        widgettest::saveScreenshot(window, QStringLiteral("status-line-wrapped"));
    }

    // Server text must not be read as markup: an image tag would draw nothing (or fetch a resource) and
    // links would become clickable.
    void serverTextIsShownAsPlainText_data() {
        QTest::addColumn<QString>("message");
        QTest::newRow("empty tags") << QStringLiteral("<b></b><i></i>");
        QTest::newRow("heading") << QStringLiteral("<h1>Expired</h1>");
    }
    void serverTextIsShownAsPlainText() {
        QFETCH(QString, message);
        ErrorMessageView status;
        status.setMessage(message);
        status.show();
        const QFontMetrics metrics(status.messageLabel()->font());
        QVERIFY(status.messageLabel()->sizeHint().width() >= metrics.horizontalAdvance(message) - 2);
    }

    void theTooltipShowsWhileHovered() {
        QWidget window;
        window.resize(400, 200);
        auto* info = new InfoTooltipButton(QStringLiteral("MUST have atleast 3 unique numbers"),
                                           appFont(FontFace::regular, 11), &window);
        info->move(20, 120);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!info->showTooltip());
        QEnterEvent enter(QPointF(2, 2), QPointF(22, 122), QPointF(22, 122));
        QCoreApplication::sendEvent(info, &enter);
        QVERIFY(info->showTooltip());
        TooltipBubble* bubble = info->bubble();
        QCOMPARE(bubble->parentWidget(), &window);
        // Beside the top-right corner of the symbol.
        QCOMPARE(bubble->geometry().bottomLeft() + QPoint(0, 1), info->geometry().topRight() + QPoint(1, 0));
        const QImage shown = window.grab().toImage();
        QCOMPARE(shown.pixelColor(bubble->geometry().topLeft() + QPoint(1, 1)),
                 namedColor(QStringLiteral("BlueGreyLite")));
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(info, &leave);
        QVERIFY(!info->showTooltip());
    }

    void theDialogStartsOnItsFirstButton() {
        QWidget window;
        int first = 0, second = 0;
        auto* dialog = new ConfirmationDialogView(*m_model, removalContent(), [&] { ++first; }, [&] { ++second; },
                                                  &window);
        (new QVBoxLayout(&window))->addWidget(dialog);
        publishFocus(*m_model, Field::loginTab);
        window.show();
        settle();
        QCOMPARE(m_model->focusedFieldPublisher.get(), std::optional<Field>(Field::removeYes));
        QVERIFY(frameShown(dialog->firstButton()));
        QVERIFY(!frameShown(dialog->secondButton()));
    }

    void returnOnTheDialog_data() {
        QTest::addColumn<std::optional<Field>>("focused");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("firstActions");
        QTest::addColumn<int>("secondActions");
        QTest::addColumn<std::optional<Field>>("focusAfter");
        QTest::addColumn<bool>("passedOn");
        using F = std::optional<Field>;
        QTest::newRow("Return on Yes") << F(Field::removeYes) << int(Qt::Key_Return) << 1 << 0 << F(Field::unfocus) << false;
        QTest::newRow("Enter on Yes") << F(Field::removeYes) << int(Qt::Key_Enter) << 1 << 0 << F(Field::unfocus) << false;
        QTest::newRow("Return on Cancel") << F(Field::removeNo) << int(Qt::Key_Return) << 0 << 1 << F(Field::authCode) << false;
        QTest::newRow("Return on a tab") << F(Field::removeUserTab) << int(Qt::Key_Return) << 0 << 0 << F(Field::removeUserTab) << true;
        QTest::newRow("Return on nothing") << F() << int(Qt::Key_Return) << 0 << 0 << F() << true;
        QTest::newRow("Tab on Yes") << F(Field::removeYes) << int(Qt::Key_Tab) << 0 << 0 << F(Field::removeYes) << true;
        QTest::newRow("Escape on Yes") << F(Field::removeYes) << int(Qt::Key_Escape) << 0 << 0 << F(Field::removeYes) << true;
        QTest::newRow("Down on Cancel") << F(Field::removeNo) << int(Qt::Key_Down) << 0 << 0 << F(Field::removeNo) << true;
        QTest::newRow("letter on Yes") << F(Field::removeYes) << int(Qt::Key_Y) << 0 << 0 << F(Field::removeYes) << true;
    }
    void returnOnTheDialog() {
        QFETCH(std::optional<Field>, focused);
        QFETCH(int, key);
        QFETCH(int, firstActions);
        QFETCH(int, secondActions);
        QFETCH(std::optional<Field>, focusAfter);
        QFETCH(bool, passedOn);
        QWidget window;
        int first = 0, second = 0, reachedOthers = 0;
        auto others = KeyDispatcher::instance().add([&](QKeyEvent&) {
            ++reachedOthers;
            return false;
        });
        auto* dialog = new ConfirmationDialogView(*m_model, removalContent(), [&] { ++first; }, [&] { ++second; },
                                                  &window);
        window.show();
        settle();
        publishFocus(*m_model, focused);
        QTest::keyClick(dialog, Qt::Key(key));
        settle();
        QCOMPARE(first, firstActions);
        QCOMPARE(second, secondActions);
        QCOMPARE(m_model->focusedFieldPublisher.get(), focusAfter);
        QCOMPARE(reachedOthers, passedOn ? 1 : 0);
    }

    void aClickActsWithoutMovingTheFocus() {
        QWidget window;
        int first = 0, second = 0;
        auto* dialog = new ConfirmationDialogView(*m_model, removalContent(), [&] { ++first; }, [&] { ++second; },
                                                  &window);
        window.show();
        settle();
        QTest::mouseClick(dialog->secondButton(), Qt::LeftButton);
        settle();
        QCOMPARE(second, 1);
        QCOMPARE(m_model->focusedFieldPublisher.get(), std::optional<Field>(Field::removeYes));
        QTest::mouseClick(dialog->firstButton(), Qt::LeftButton);
        settle();
        QCOMPARE(first, 1);
        QCOMPARE(m_model->focusedFieldPublisher.get(), std::optional<Field>(Field::removeYes));
    }

    void aDialogShownAgainActsOnceOnReturn() {
        QWidget window;
        int first = 0;
        auto* dialog = new ConfirmationDialogView(*m_model, removalContent(), [&] { ++first; }, [] {}, &window);
        window.show();
        for (int i = 0; i < 3; ++i) {
            dialog->hide();
            dialog->show();
        }
        settle();
        QTest::keyClick(dialog, Qt::Key_Return);
        QCOMPARE(first, 1);
    }

    void returnWhileLoadingIsPassedOn() {
        QWidget window;
        int first = 0;
        auto* dialog = new ConfirmationDialogView(*m_model, removalContent(), [&] { ++first; }, [] {}, &window);
        window.show();
        settle();
        m_model->isLoading = true;
        QTest::keyClick(dialog, Qt::Key_Return);
        QCOMPARE(first, 0);
    }

    void aPressedDialogButtonDarkens() {
        QWidget window;
        auto* dialog = new ConfirmationDialogView(*m_model, removalContent(), [] {}, [] {}, &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QPushButton* yes = dialog->firstButton();
        QCOMPARE(yes->width(), 140);
        QCOMPARE(yes->grab().toImage().pixelColor(2, 2), namedColor(QStringLiteral("Yellow")));
        QTest::mousePress(yes, Qt::LeftButton);
        QCOMPARE(yes->grab().toImage().pixelColor(2, 2), namedColor(QStringLiteral("DarkGray")));
        QTest::mouseRelease(yes, Qt::LeftButton);
    }

    void theDialogsStatusLine() {
        QWidget window;
        widgettest::useWindowLook(window);
        auto* dialog = new ConfirmationDialogView(*m_model, removalContent(), [] {}, [] {}, &window);
        (new QVBoxLayout(&window))->addWidget(dialog);
        window.resize(800, 400);
        window.show();
        settle();
        QCOMPARE(dialog->statusLine()->height(), ErrorMessageView::emptyHeight);
        dialog->setErrorMessage(QStringLiteral("An unknown error occurred"));
        QCOMPARE(dialog->statusLine()->iconLabel()->accessibleName(),
                 QStringLiteral("exclamationmark.triangle.fill"));
        widgettest::saveScreenshot(window, QStringLiteral("confirmation-dialog"));
    }
};

QTEST_MAIN(StatusAndBusyTest)
#include "tst_statusandbusy.moc"
