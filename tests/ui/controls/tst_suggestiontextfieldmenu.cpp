#include "ui/controls/SuggestionTextFieldMenu.h"

#include <QApplication>
#include <QLabel>
#include <QScrollArea>
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
        auto* lemon = menu->findChild<QLabel*>(QStringLiteral("Lemon"));
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
};

QTEST_MAIN(TestSuggestionTextFieldMenu)
#include "tst_suggestiontextfieldmenu.moc"
