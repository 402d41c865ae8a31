#include "MemoryKeyStore.h"
#include "flows/RequestSigner.h"
#include "storage/KeyChain.h"
#include "support/SignatureVerifier.h"

#include <QDateTime>
#include <QStandardPaths>
#include <QTest>

#include <qcoro/qcorotask.h>

class TestRequestSigner : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        m_keyStore = std::make_shared<MemoryKeyStore>();
        KeyChain::setKeyStore(m_keyStore);
    }

    void signsWithTheKeyUnderTheFinalTag_data() {
        QTest::addColumn<QString>("message");
        QTest::newRow("ascii") << "S1||Z1||ABC123";
        QTest::newRow("non-ascii over its utf-8 bytes") << u"S1||Z1||\u00E9t\u00E9||\u6771\u4EAC"_qs;
    }

    void signsWithTheKeyUnderTheFinalTag() {
        QFETCH(QString, message);
        AuthResponse user;
        user.primaryAttr = "P1";
        user.pin = KeyChain::sha256Hex("135792");
        const auto pair = KeyChain::getOrCreateKeyPair("P1||" + *user.pin);
        QVERIFY(pair);
        const QString pem = *KeyChain::publicKeyString(pair->publicKey);

        const auto signed_ = QCoro::waitFor(RequestSigner::sign(user, message));
        QVERIFY(signed_);
        QVERIFY(signed_->signature);
        QVERIFY(signature::verify(pem, message, *signed_->signature));
        QVERIFY(!signature::verify(pem, message + "x", *signed_->signature));
        QCOMPARE(m_keyStore->size(), 1);
    }

    void noKeyTagMeansNothingIsSent() {
        AuthResponse user;
        user.primaryAttr = "P1";
        QCOMPARE(QCoro::waitFor(RequestSigner::sign(user, "S1||Z1")), std::nullopt);
    }

    void unreachableKeyStoreMeansNothingIsSent() {
        AuthResponse user;
        user.primaryAttr = "P2";
        user.pin = KeyChain::sha256Hex("135792");
        m_keyStore->setAvailable(false);
        const auto signed_ = QCoro::waitFor(RequestSigner::sign(user, "S1||Z1"));
        m_keyStore->setAvailable(true);
        QCOMPARE(signed_, std::nullopt);
    }

    void messages_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");

        QTest::newRow("verify without org")
            << RequestSigner::verifyDidMessage("S1", "Z1", "abc123", "") << "S1||Z1||abc123";
        QTest::newRow("verify with org")
            << RequestSigner::verifyDidMessage("S1", "Z1", "abc123", "ORG1") << "S1||Z1||abc123||ORG1";
        QTest::newRow("verify with empty code")
            << RequestSigner::verifyDidMessage("S1", "Z1", "", "") << "S1||Z1||";
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

private:
    std::shared_ptr<MemoryKeyStore> m_keyStore;
};

QTEST_GUILESS_MAIN(TestRequestSigner)
#include "tst_requestsigner.moc"
