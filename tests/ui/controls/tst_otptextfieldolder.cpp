#include "ui/controls/OTPDigitTextField.h"
#include "ui/controls/OtpTextFieldOlder.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

class TestOtpTextFieldOlder : public QObject {
    Q_OBJECT

private slots:
    // However wide the row is given, the fields keep 15 points between them.
    void sixFieldsFifteenPointsApart_data() {
        QTest::addColumn<int>("width"); // 0: the row's own width
        QTest::newRow("own width") << 0;
        QTest::newRow("a 400-point window") << 400;
        QTest::newRow("an 800-point window") << 800;
    }
    void sixFieldsFifteenPointsApart() {
        QFETCH(int, width);
        OtpTextFieldOlder row;
        if (width > 0)
            row.resize(width, 60);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        for (int i = 0; i < OtpTextFieldOlder::positionCount; ++i) {
            QCOMPARE(row.position(i)->size(), QSize(30, 30));
            if (i > 0)
                QCOMPARE(row.position(i)->x() - row.position(i - 1)->geometry().right() - 1, 15);
        }
    }

    void typingChangesOnlyItsOwnPosition_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("typed");

        QTest::newRow("first") << 0 << "7";
        QTest::newRow("middle") << 2 << "4";
        QTest::newRow("last, more than one character") << 5 << "123";
    }

    void typingChangesOnlyItsOwnPosition() {
        QFETCH(int, index);
        QFETCH(QString, typed);
        OtpTextFieldOlder row;
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        QTest::keyClicks(row.position(index)->lineEdit(), typed);
        QStringList expected(OtpTextFieldOlder::positionCount, QString());
        expected[index] = typed;
        QCOMPARE(row.otp(), expected);
    }
};

QTEST_MAIN(TestOtpTextFieldOlder)
#include "tst_otptextfieldolder.moc"
