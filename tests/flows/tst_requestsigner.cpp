#include "flows/RequestSigner.h"

#include <QDateTime>
#include <QTest>

class TestRequestSigner : public QObject {
    Q_OBJECT

private slots:
    void messages_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");

        QTest::newRow("verify without org")
            << RequestSigner::verifyDidMessage("S1", "Z1", "abc123", "") << "S1||Z1||abc123";
        QTest::newRow("verify with org")
            << RequestSigner::verifyDidMessage("S1", "Z1", "abc123", "ORG1") << "S1||Z1||abc123||ORG1";
        QTest::newRow("verify with empty code") << RequestSigner::verifyDidMessage("S1", "Z1", "", "") << "S1||Z1||";
        QTest::newRow("confirm without org")
            << RequestSigner::confirmQidMessage("S1", "Z1", "ABC123", "") << "S1||Z1||ABC123";
        QTest::newRow("confirm with org")
            << RequestSigner::confirmQidMessage("S1", "Z1", "ABC123", "ORG2") << "S1||Z1||ABC123||ORG2";
        QTest::newRow("second code without org keeps five parts")
            << RequestSigner::verifyValidationCodeMessage("S1", "Z1", "abc123", "12a4", "")
            << "S1||Z1||ABC123||12a4||";
        QTest::newRow("second code with org")
            << RequestSigner::verifyValidationCodeMessage("S1", "Z1", "abc123", "1234", "ORG1")
            << "S1||Z1||ABC123||1234||ORG1";
        QTest::newRow("device removal") << RequestSigner::manageDeviceMessage("S1", "Z1") << "S1||Z1";
    }

    void messages() {
        QFETCH(QString, message);
        QFETCH(QString, expected);
        QCOMPARE(message, expected);
    }

    void keyTag() {
        AuthResponse user;
        user.primaryAttr = "P1";
        QCOMPARE(RequestSigner::keyTag(user), std::nullopt);
        user.pin = "ABCD";
        QCOMPARE(RequestSigner::keyTag(user), std::optional<QString>("P1||ABCD"));
        user.primaryAttr.reset();
        QCOMPARE(RequestSigner::keyTag(user), std::nullopt);
    }

    void timestampIsInMilliseconds() {
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        const qint64 stamp = RequestSigner::timestamp();
        QCOMPARE(QString::number(stamp).size(), 13);
        QVERIFY(stamp / 1000 >= before && stamp / 1000 <= before + 1);
    }
};

QTEST_GUILESS_MAIN(TestRequestSigner)
#include "tst_requestsigner.moc"
