#include "MemoryKeyStore.h"
#include "flows/RequestSigner.h"
#include "storage/KeyChain.h"
#include "support/SignatureVerifier.h"

#include <QDateTime>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <qcoro/qcorotask.h>

#include <atomic>

namespace {

// Tells on which thread keys are read, and can hold a lookup after it has read the store, the moment a
// slow keyring would leave open.
class ObservedKeyStore final : public KeyStore {
public:
    Status lookUp(const QString& tag, std::vector<SecureBytes>& secrets) override {
        lastLookupThread = QThread::currentThread();
        const Status status = m_inner.lookUp(tag, secrets);
        if (holdLookups) {
            lookupHeld.release();
            lookupRelease.acquire();
        }
        return status;
    }
    Status add(const QString& tag, const SecureBytes& der) override { return m_inner.add(tag, der); }
    Status retag(const QString& from, const QString& to, const Match& which) override {
        return m_inner.retag(from, to, which);
    }
    Status remove(const QString& tag, const Match& which) override { return m_inner.remove(tag, which); }
    QString lastError() const override { return m_inner.lastError(); }
    int lookups() const { return m_inner.lookups(); }

    std::atomic<QThread*> lastLookupThread = nullptr;
    std::atomic<bool> holdLookups = false;
    QSemaphore lookupHeld;
    QSemaphore lookupRelease;

private:
    MemoryKeyStore m_inner;
};

AuthResponse enrolledUser(const QString& primaryAttr) {
    AuthResponse user;
    user.primaryAttr = primaryAttr;
    user.pin = KeyChain::sha256Hex("135792");
    return user;
}

// `user` with its record naming the key under `tag`.
void nameKey(AuthResponse& user, const QString& tag, const KeyChain::KeyPair& pair) {
    user.keyTag = tag;
    user.keyIdentity = KeyChain::keyIdentity(pair.publicKey);
}

} // namespace

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

        const auto signed_ = QCoro::waitFor(RequestSigner::sign(user, message)).signature;
        QVERIFY(signed_);
        QVERIFY(signed_->signature);
        QVERIFY(signature::verify(pem, message, *signed_->signature));
        QVERIFY(!signature::verify(pem, message + "x", *signed_->signature));
        QCOMPARE(m_keyStore->size(), 1);
    }

    void noKeyTagMeansNothingIsSent() {
        AuthResponse user;
        user.primaryAttr = "P1";
        QCOMPARE(QCoro::waitFor(RequestSigner::sign(user, "S1||Z1")).signature, std::nullopt);
    }

    void unreachableKeyStoreMeansNothingIsSent() {
        AuthResponse user;
        user.primaryAttr = "P2";
        user.pin = KeyChain::sha256Hex("135792");
        m_keyStore->setAvailable(false);
        const auto signed_ = QCoro::waitFor(RequestSigner::sign(user, "S1||Z1")).signature;
        m_keyStore->setAvailable(true);
        QCOMPARE(signed_, std::nullopt);
    }

    void aLoadedKeySignsWithoutLeavingTheCallingThread() {
        auto store = std::make_shared<ObservedKeyStore>();
        KeyChain::setKeyStore(store);
        AuthResponse user = enrolledUser("P3");
        const QString tag = *KeyChain::signingTag(user);
        const auto pair = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(pair);
        nameKey(user, tag, *pair);
        KeyChain::beginSigningSession(user);

        // The first signature of the session reads the key, away from the caller. (Whether the call has
        // returned before the worker is done is up to the scheduler, so only the thread is checked.)
        store->lastLookupThread = nullptr;
        QVERIFY(QCoro::waitFor(RequestSigner::sign(user, "S1||Z1||ONE")).signature);
        QVERIFY(store->lastLookupThread != nullptr);
        QVERIFY(store->lastLookupThread != QThread::currentThread());

        // The next ones are done by the time the call returns, and read nothing.
        const int lookups = store->lookups();
        auto second = RequestSigner::sign(user, "S1||Z1||TWO");
        QVERIFY(second.isReady());
        const auto signed_ = QCoro::waitFor(std::move(second)).signature;
        QCOMPARE(store->lookups(), lookups);
        QVERIFY(signed_ && signed_->signature);
        QVERIFY(pair->publicKey.verifySha256("S1||Z1||TWO",
                                             QByteArray::fromBase64(signed_->signature->toLatin1())));

        KeyChain::endSigningSession();
        KeyChain::setKeyStore(m_keyStore);
    }

    // A lookup under way while the key is deleted read the old key; keeping it would sign with a key the
    // store no longer has for the rest of the session.
    void aLookupOvertakenByDeletionIsNotKept() {
        auto store = std::make_shared<ObservedKeyStore>();
        KeyChain::setKeyStore(store);
        AuthResponse user = enrolledUser("P4");
        const QString tag = *KeyChain::signingTag(user);
        const auto pair = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(pair);
        nameKey(user, tag, *pair);
        KeyChain::beginSigningSession(user);

        store->holdLookups = true;
        auto signing = RequestSigner::sign(user, "S1||Z1||ONE");
        QVERIFY(store->lookupHeld.tryAcquire(1, 10000));
        store->holdLookups = false;
        QVERIFY(KeyChain::deleteKnownKey({tag, *user.keyIdentity}));
        store->lookupRelease.release();
        QVERIFY(QCoro::waitFor(std::move(signing)).signature);

        // The key is gone: nothing signs any more, least of all the copy the lookup read before.
        const int lookups = store->lookups();
        const auto next = QCoro::waitFor(RequestSigner::sign(user, "S1||Z1||TWO"));
        QVERIFY(store->lookups() > lookups);
        QCOMPARE(next.signature, std::nullopt);
        QVERIFY(!next.keyringUnanswered);

        KeyChain::endSigningSession();
        KeyChain::setKeyStore(m_keyStore);
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
        QCOMPARE(KeyChain::signingTag(user), std::nullopt);
        user.pin = "ABCD";
        QCOMPARE(KeyChain::signingTag(user), std::optional<QString>("P1||ABCD"));
        user.primaryAttr.reset();
        QCOMPARE(KeyChain::signingTag(user), std::nullopt);
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
