#include "support/WidgetTestSupport.h"
#include "ui/controls/SemanticColor.h"
#include "ui/controls/SuggestionTextFieldMenu.h"

#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

class TestSuggestionTextFieldMenu : public QObject {
    Q_OBJECT

private slots:
    void filtersByContentAndFirstCharacter_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("height");

        QTest::newRow("M") << "M" << QStringList{"Melon", "Mandarin", "Mulberries", "Mango"} << 150;
        QTest::newRow("m: inside Watermelon but not its first letter") << "m" << QStringList{} << 0;
        QTest::newRow("Lo") << "Lo" << QStringList{"Loquat", "Longan"} << 100;
        QTest::newRow("one match") << "Kiw" << QStringList{"Kiwi"} << 50;
        QTest::newRow("lower-case start of a name") << "lemon" << QStringList{} << 0;
        QTest::newRow("empty") << "" << QStringList{} << 0;
    }

    void filtersByContentAndFirstCharacter() {
        QFETCH(QString, input);
        QFETCH(QStringList, expected);
        QFETCH(int, height);

        rx::Published<bool> editing(true);
        rx::Published<QString> text;
        SuggestionTextFieldMenu menu(editing, text);
        QCOMPARE(menu.names().size(), 17);
        text = input;
        QCOMPARE(menu.shownSuggestions(), expected);
        QCOMPARE(SuggestionTextFieldMenu::maximumListHeight(expected.size()), height);
        auto* list = menu.findChild<QScrollArea*>(QStringLiteral("suggestions"));
        QVERIFY(list);
        QCOMPARE(list->maximumHeight(), height);
        int rows = 0;
        for (const QString& name : expected)
            rows += menu.findChild<QLabel*>(name) != nullptr;
        QCOMPARE(rows, expected.size());
    }

    void pickingWritesTheTextAndCloses() {
        rx::Published<bool> editing(true);
        rx::Published<QString> text;
        QWidget window;
        window.resize(400, 300);
        auto* menu = new SuggestionTextFieldMenu(editing, text, 12, 4, &window);
        menu->resize(400, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        text = QStringLiteral("L");
        QCOMPARE(menu->shownSuggestions(), (QStringList{"Lemon", "Lime", "Loquat", "Longan", "Lychee"}));
        QVERIFY(menu->isVisible());
        auto* lemon = window.findChild<QLabel*>(QStringLiteral("Lemon"));
        QVERIFY(lemon);
        QTest::mouseClick(lemon, Qt::LeftButton);
        // Picked even though "Lemon" would still match.
        QCOMPARE(text.get(), QStringLiteral("Lemon"));
        QVERIFY(!editing.get());
        QVERIFY(!menu->isVisible());
    }

    void showsOnlyWhileEditing() {
        rx::Published<bool> editing(false);
        rx::Published<QString> text(QStringLiteral("M"));
        QWidget window;
        auto* menu = new SuggestionTextFieldMenu(editing, text, &window);
        window.show();
        QVERIFY(!menu->isVisible());
        editing = true;
        QVERIFY(menu->isVisible());
        QCOMPARE(menu->shownSuggestions().size(), 4);
        editing = false;
        QVERIFY(!menu->isVisible());
    }

    // A row's name stands 25 points in from the card's edge and in the middle of its 50-point height.
    void aRowIsPaddedOnEverySide() {
        rx::Published<bool> editing(true);
        rx::Published<QString> text(QStringLiteral("Kiw"));
        QWidget window;
        widgettest::useWindowLook(window);
        window.resize(400, 200);
        auto* menu = new SuggestionTextFieldMenu(editing, text, &window);
        menu->setGeometry(0, 0, 400, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* area = window.findChild<QScrollArea*>(QStringLiteral("suggestions"));
        // One row fits whole: no scroll bar crowds it.
        QVERIFY(!area->verticalScrollBar()->isVisible());
        QWidget* list = area->viewport();
        const QImage shown = list->grab().toImage();
        const qreal ratio = shown.devicePixelRatio();
        widgettest::saveScreenshot(window, QStringLiteral("suggestion-list"));
        // The ink of the name: dark on the white card, left of the scroll bar, above the divider and clear of
        // the rounded corner.
        QRect ink;
        for (int y = 0; y < int(48 * ratio); ++y)
            for (int x = 0; x < int((list->width() - 20) * ratio); ++x)
                if (qAlpha(shown.pixel(x, y)) == 255 && qGray(shown.pixel(x, y)) < 128 &&
                    (x >= 15 * ratio || y >= 15 * ratio))
                    ink |= QRect(int(x / ratio), int(y / ratio), 1, 1);
        QVERIFY(!ink.isEmpty());
        QVERIFY2(ink.left() >= 25 && ink.left() <= 27, qPrintable(QString::number(ink.left())));
        QVERIFY2(qAbs(ink.center().y() - 25) <= 2, qPrintable(QString::number(ink.center().y())));
    }

    // The offsets move the drawn list, upwards and leftwards as well, without changing its width.
    void theOffsetsMoveTheList_data() {
        QTest::addColumn<int>("vertical");
        QTest::addColumn<int>("horizontal");
        QTest::newRow("none") << 0 << 0;
        QTest::newRow("down and right") << 12 << 4;
        QTest::newRow("up and left") << -30 << -10;
    }
    void theOffsetsMoveTheList() {
        QFETCH(int, vertical);
        QFETCH(int, horizontal);
        rx::Published<bool> editing(true);
        rx::Published<QString> text(QStringLiteral("M"));
        QWidget window;
        window.setAutoFillBackground(true);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, namedColor(QStringLiteral("tabBgBlack")));
        window.setPalette(palette);
        window.resize(400, 400);
        auto* menu = new SuggestionTextFieldMenu(editing, text, vertical, horizontal, &window);
        menu->setGeometry(0, 100, 400, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget* card = window.findChild<QWidget*>(QStringLiteral("suggestionCard"));
        const QRect placed(card->mapTo(&window, QPoint()), card->size());
        QCOMPARE(placed.topLeft(), QPoint(25 + horizontal, 100 + vertical));
        QCOMPARE(placed.width(), 400 - 2 * 25);
        // Drawn there, not cut off by the place the list was given.
        const QImage shown = window.grab().toImage();
        const QPoint inside = placed.topLeft() + QPoint(placed.width() / 2, 3);
        QCOMPARE(shown.pixelColor(inside * shown.devicePixelRatio()), QColor(Qt::white));
    }
};

QTEST_MAIN(TestSuggestionTextFieldMenu)
#include "tst_suggestiontextfieldmenu.moc"
