#include "flows/PinRule.h"

#include <QTest>

class TestPinRule : public QObject {
    Q_OBJECT

private slots:
    void evaluate_data() {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("empty") << QString() << true;
        QTest::newRow("one digit") << u"7"_qs << true;
        QTest::newRow("two digits stepping") << u"12"_qs << true;
        QTest::newRow("ordinary pin") << u"135792"_qs << true;

        QTest::newRow("letter") << u"12a456"_qs << false;
        QTest::newRow("space") << u"12 456"_qs << false;
        QTest::newRow("leading sign") << u"-13579"_qs << false;
        QTest::newRow("trailing sign") << u"13579+"_qs << false;
        QTest::newRow("emoji") << u"1357\U0001F642"_qs << false;

        QTest::newRow("pair passes") << u"113579"_qs << true;
        QTest::newRow("triple refuses") << u"135559"_qs << false;
        QTest::newRow("triple at start") << u"111"_qs << false;

        QTest::newRow("rising steps") << u"512384"_qs << false;
        QTest::newRow("falling steps") << u"543950"_qs << false;
        QTest::newRow("up then down") << u"121"_qs << false;
        QTest::newRow("down then up") << u"878"_qs << false;
        QTest::newRow("steps apart") << u"127348"_qs << true;
        QTest::newRow("repeat resets the steps") << u"1223"_qs << true;
        QTest::newRow("nine to zero is no step") << u"890"_qs << true;
        QTest::newRow("zero to one after nine") << u"9012"_qs << false;

        QTest::newRow("two values alternating") << u"131313"_qs << false;
        QTest::newRow("two values in pairs") << u"114411"_qs << false;
        QTest::newRow("three values in stepping pairs") << u"112233"_qs << true;
        QTest::newRow("three values in pairs") << u"225588"_qs << true;

        // Numeric characters beyond ASCII: they pass the numeric test, count as distinct, and never take
        // part in a step.
        QTest::newRow("arabic-indic stepping digits") << u"\u0661\u0662\u0663\u0664\u0665\u0666"_qs << true;
        QTest::newRow("arabic-indic triple") << u"\u0661\u0661\u0661"_qs << false;
        QTest::newRow("han numerals") << u"\u4E00\u4E8C\u4E09"_qs << true;
        QTest::newRow("vulgar fraction") << u"13\u00BD57"_qs << true;
        QTest::newRow("steps around a fraction") << u"12\u00BD34"_qs << false;
        QTest::newRow("no steps around a fraction") << u"13\u00BD46"_qs << true;
        QTest::newRow("digits outside the basic plane") << u"\U0001D7CF\U0001D7D0\U0001D7D1"_qs << true;
        QTest::newRow("roman numeral") << u"\u2160\u2161\u2162"_qs << true;

        // One user-perceived character each, whatever its code points.
        QTest::newRow("digit with a combining mark") << u"1\u030111"_qs << true;
        QTest::newRow("marked digits never step") << u"1\u03012\u03013\u0301"_qs << true;
        QTest::newRow("canonically equal marks in a row")
            << u"1\u0323\u03011\u0301\u03231\u0323\u0301"_qs << false;
        QTest::newRow("keycap digits") << u"1\uFE0F\u20E32\uFE0F\u20E33\uFE0F\u20E3"_qs << true;
    }

    void evaluate() {
        QFETCH(QString, pin);
        QFETCH(bool, accepted);
        QCOMPARE(PinRule::evaluate(pin), accepted);
    }
};

QTEST_GUILESS_MAIN(TestPinRule)
#include "tst_pinrule.moc"
