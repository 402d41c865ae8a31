#include "FlowFixture.h"

#include "flows/FlowSupport.h"
#include "flows/HomeViewModel.h"
#include "support/SignatureVerifier.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTest>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;

namespace {

const QJsonObject success{{"errorCode", 0}, {"resultCode", 0}};

QJsonObject with(QJsonObject object, const QJsonObject& more) {
    for (auto it = more.begin(); it != more.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

} // namespace

class TestApproval : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryKeyStore> m_keys = std::make_shared<MemoryKeyStore>();
    AuthResponse m_user;
    QString m_pem;
    std::unique_ptr<FlowFixture> f;
    std::unique_ptr<HomeViewModel> m_model;
    // Signed requests that the service is meant to refuse in the running test.
    qsizetype m_expectedRefusals = 0;

    HomeViewModel& model() { return *m_model; }

    void verify(const QString& code) { QCoro::waitFor(model().verifyDid(code)); }

    // Runs the event loop until the flow has nothing in flight.
    void settle() {
        QTRY_VERIFY(!f->app->isLoading.get());
        QCoreApplication::sendPostedEvents();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        FlowFixture::setUpProcess(m_dir, m_keys);
        console::setSink([](const QString&) {});
        m_user = FlowFixture::enrolledUser(KeyChain::sha256Hex("135792"));
        const auto pair = KeyChain::getOrCreateKeyPair(*m_user.primaryAttr + "||" + *m_user.pin);
        QVERIFY(pair);
        m_pem = *KeyChain::publicKeyString(pair->publicKey);
    }

    void cleanupTestCase() { console::setSink({}); }

    void init() {
        f = std::make_unique<FlowFixture>();
        f->signIn(m_user, m_pem);
        m_expectedRefusals = 0;
        m_model = std::make_unique<HomeViewModel>(f->repository.get(), *f->app, f->clock);
    }

    void cleanup() {
        m_model.reset();
        qsizetype refused = 0;
        for (const auto& check : f->checks.checks())
            refused += check.verified ? 0 : 1;
        QCOMPARE(refused, m_expectedRefusals);
        f.reset();
    }

    void codeBecomesUniqueIdAndOrg_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("chosenOrg");
        QTest::addColumn<QString>("uniqueId");
        QTest::addColumn<QString>("org");

        QTest::newRow("pasted QR text") << "ORG1:abc123"
                                        << ""
                                        << "abc123"
                                        << "ORG1";
        QTest::newRow("pasted text wins over the chosen org") << "ORG1:abc123"
                                                              << "ORG9"
                                                              << "abc123"
                                                              << "ORG1";
        QTest::newRow("further parts ignored") << "aaaa:b:c"
                                               << ""
                                               << "b"
                                               << "aaaa";
        QTest::newRow("long code without colon") << "abcdefg"
                                                 << "ORG9"
                                                 << ""
                                                 << "ORG9";
        QTest::newRow("six characters upper-cased") << "abc123"
                                                    << ""
                                                    << "ABC123"
                                                    << "";
        QTest::newRow("six characters with the chosen org") << "abc123"
                                                            << "ORG2"
                                                            << "ABC123"
                                                            << "ORG2";
        QTest::newRow("five characters keep their case") << "abC12"
                                                         << ""
                                                         << "abC12"
                                                         << "";
    }

    void codeBecomesUniqueIdAndOrg() {
        QFETCH(QString, code);
        QFETCH(QString, chosenOrg);
        QFETCH(QString, uniqueId);
        QFETCH(QString, org);
        f->reply("verify/did", with(success, {{"action", "none"}, {"org", "ORG-R"}}));
        model().orgCode = chosenOrg;

        verify(code);
        const QList<QJsonObject> sent = f->bodies("verify/did");
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].value("uniqueId").toString(), uniqueId);
        QCOMPARE(sent[0].contains("org"), !org.isEmpty());
        QCOMPARE(sent[0].value("org").toString(), org);
        QCOMPARE(sent[0].value("suid").toString(), "S-1");
        QCOMPARE(sent[0].value("zid").toString(), "Z-1");
        QCOMPARE(QString::number(sent[0].value("timestamp").toInteger()).size(), 13);
        QVERIFY(!sent[0].contains("confirm"));
        QCOMPARE(f->checks.checks().size(), 1);
        QVERIFY(f->checks.checks()[0].verified);
        QCOMPARE(model().verificationCode.get(), uniqueId);
        // A successful reply names the organisation that goes on.
        QCOMPARE(model().orgCode.get(), "ORG-R");
        QVERIFY(!f->app->isLoading.get());
    }

    // Standard output reaches the journal: the trace of the signed message must not carry the code.
    // An earlier version's user, whose record names no key, looks its key up until the service accepts a
    // signature with it; from then on its record names the key, which is read once more and then stays loaded
    // for the session.
    void anEarlierVersionsKeyStaysLoadedOnceTheServiceAcceptedIt() {
        f->reply("verify/did", with(success, {{"action", "none"}}));
        verify("abc123");
        settle();
        QVERIFY(KeyChain::namedKey(*f->app->authDetails.get()));
        verify("abc124");
        settle();
        const int lookups = m_keys->lookups();
        verify("abc125");
        settle();
        QCOMPARE(f->checks.checks().size(), 3);
        QVERIFY(f->checks.checks()[2].verified);
        QCOMPARE(m_keys->lookups(), lookups);
    }

    void traceOfTheSignedMessageMasksTheCode() {
        QStringList lines;
        console::setSink([&lines](const QString& line) { lines.append(line); });
        f->reply("verify/did", with(success, {{"action", "none"}}));
        verify("ORG1:abc123");
        console::setSink([](const QString&) {});
        QVERIFY(lines.contains("Signature: S-1||Z-1||******||ORG1"));
        for (const QString& line : std::as_const(lines))
            QVERIFY2(!line.contains("ABC123", Qt::CaseInsensitive), qPrintable(line));
    }

    void severalOrganisationsAreOffered() {
        const QJsonArray orgs{QJsonObject{{"orgCode", "ORG1"}, {"orgName", "One"}},
                              QJsonObject{{"orgCode", "ORG2"}, {"orgName", "Two"}}};
        f->reply("verify/did", {{"errorCode", 1}, {"resultCode", 75}, {"orgCodes", orgs}});
        verify("abc123");
        QCOMPARE(model().orgCodes->size(), size_t(2));
        QCOMPARE(model().orgCodes.get()[1].orgName, "Two");
        QCOMPARE(model().orgCode.get(), "ORG1");
        QCOMPARE(model().errorMessage.get(), "");

        // The user picks the second and sends the same code again, now signed with the organisation.
        model().orgCode = "ORG2";
        f->reply("verify/did", with(success, {{"org", "ORG2"}, {"ttl", 30}}));
        verify("abc123");
        QCOMPARE(f->bodies("verify/did").last().value("org").toString(), "ORG2");
        QCOMPARE(f->checks.checks().last().message, "S-1||Z-1||ABC123||ORG2");
        QVERIFY(model().show2Fa.get());
        QVERIFY(model().orgCodes->empty());
    }

    void oneOrganisationIsAPlainFailure() {
        const QJsonArray orgs{QJsonObject{{"orgCode", "ORG1"}}};
        f->reply("verify/did", {{"errorCode", 1}, {"resultCode", 75}, {"orgCodes", orgs}});
        verify("abc123");
        QVERIFY(model().orgCodes->empty());
        QCOMPARE(model().errorMessage.get(), flows_resultMessage(75));
    }

    void confirmationIsSentAtOnce() {
        f->reply("verify/did",
                 with(success, {{"org", "ORG1"}, {"confirm", QJsonObject{{"message", "Sign in?"}}}}));
        f->reply("confirm/qid", with(success, {{"message", "Signed in to the portal"}}));
        verify("ORG1:abc123");
        settle();
        const QList<QJsonObject> confirmations = f->bodies("confirm/qid");
        QCOMPARE(confirmations.size(), 1);
        QCOMPARE(confirmations[0].value("confirm").toString(), "Yes");
        QCOMPARE(confirmations[0].value("uniqueId").toString(), "abc123");
        QCOMPARE(confirmations[0].value("org").toString(), "ORG1");
        QCOMPARE(f->checks.checks().last().message, "S-1||Z-1||abc123||ORG1");

        QVERIFY(model().showSucces.get());
        QCOMPARE(model().errorMessage.get(), "Signed in to the portal");
        QVERIFY(f->windows.calls.isEmpty());
        f->clock.advance(2s);
        QVERIFY(!model().showSucces.get());
        QCOMPARE(model().errorMessage.get(), "");
        QCOMPARE(model().verificationCode.get(), "");
        QCOMPARE(f->windows.calls, QStringList{"miniaturize"});
    }

    void confirmActionAlsoConfirms() {
        f->reply("verify/did", with(success, {{"action", "CONFIRM"}}));
        f->reply("confirm/qid", success);
        verify("abc123");
        settle();
        QCOMPARE(f->bodies("confirm/qid").size(), 1);
        QCOMPARE(model().errorMessage.get(), "You are successfully logged in");
    }

    void secondCodeExpires() {
        f->reply("verify/did", with(success, {{"ttl", 1}}));
        verify("abc123");
        QVERIFY(model().show2Fa.get());
        QCOMPARE(f->clock.lastPendingInterval(), std::optional(std::chrono::milliseconds(1s)));
        f->clock.advance(999ms);
        QCOMPARE(model().errorMessage.get(), "");
        f->clock.advance(1ms);
        QCOMPARE(model().errorMessage.get(), "Validation code expired");
        QVERIFY(model().show2Fa.get());
        f->clock.advance(2s);
        QVERIFY(!model().show2Fa.get());
        QCOMPARE(model().errorMessage.get(), "");
    }

    void secondCodeWithoutTtlLastsAMinute() {
        f->reply("verify/did", success);
        verify("abc123");
        QCOMPARE(f->clock.lastPendingInterval(), std::optional(std::chrono::milliseconds(60s)));
    }

    // A lifetime beyond what the timer counts in milliseconds must not wrap round into an instant expiry.
    void hugeCodeLifetimeDoesNotExpireAtOnce() {
        f->reply("verify/did", with(success, {{"ttl", QJsonValue(qint64(10'000'000'000'000'000))}}));
        verify("abc123");
        QVERIFY(model().show2Fa.get());
        const auto interval = f->clock.lastPendingInterval();
        QVERIFY(interval && *interval > std::chrono::hours(24));
        f->clock.advance(1h);
        QCOMPARE(model().errorMessage.get(), "");
        QVERIFY(model().show2Fa.get());
    }

    void secondCodeIsSentSigned_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("org");
        QTest::addColumn<QJsonValue>("validationCode");
        QTest::addColumn<QString>("message");

        QTest::newRow("digits") << "4821"
                                << "" << QJsonValue(4821) << "S-1||Z-1||ABC123||4821||";
        QTest::newRow("with org") << "4821"
                                  << "ORG1" << QJsonValue(4821) << "S-1||Z-1||ABC123||4821||ORG1";
        QTest::newRow("not a number")
            << "12a4"
            << "" << QJsonValue(QJsonValue::Undefined) << "S-1||Z-1||ABC123||12a4||";
    }

    void secondCodeIsSentSigned() {
        QFETCH(QString, code);
        QFETCH(QString, org);
        QFETCH(QJsonValue, validationCode);
        QFETCH(QString, message);
        f->reply("verify/did", with(success, {{"ttl", 1}, {"org", org}}));
        f->reply("verify/validationCode", with(success, {{"message", "Approved"}}));
        verify("abc123");

        model().verifyCode(code);
        // The second code stops the expiry timer.
        QVERIFY(!model().codeTimer);
        settle();
        const QList<QJsonObject> sent = f->bodies("verify/validationCode");
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].value("uniqueId").toString(), "ABC123");
        QCOMPARE(sent[0].value("validationCode"), validationCode);
        QCOMPARE(sent[0].contains("org"), !org.isEmpty());
        // Signed over the code as typed, whatever the body can carry.
        QVERIFY(signature::verify(m_pem, message, sent[0].value("signature").toString()));
        if (validationCode.isUndefined()) {
            // The service cannot rebuild what was signed and refuses.
            QVERIFY(!f->checks.checks().last().verified);
            QCOMPARE(model().errorMessage.get(), "Signature not matching");
            QVERIFY(!model().show2Fa.get());
            m_expectedRefusals = 1;
        } else {
            QCOMPARE(model().errorMessage.get(), "Approved");
            QVERIFY(model().showSucces.get());
            f->clock.advance(2s);
            QCOMPARE(model().errorMessage.get(), "");
            QCOMPARE(f->windows.calls, QStringList{"miniaturize"});
        }
        // The expiry never fires once the second code went out.
        f->clock.advance(2s);
        QVERIFY(model().errorMessage.get() != "Validation code expired");
    }

    void webAuthenticationMinimisesTheWindow() {
        f->reply("verify/did", with(success, {{"ttl", 1}}));
        f->reply("verify/validationCode", with(success, {{"source", "WEBAUTHN"}, {"message", "ignored"}}));
        verify("abc123");
        model().verifyCode("4821");
        settle();
        QCOMPARE(f->windows.calls, QStringList{"miniaturize"});
        QVERIFY(f->app->windowMinimized.get());
        QVERIFY(!model().showSucces.get());
        QVERIFY(!model().show2Fa.get());
        QCOMPARE(model().errorMessage.get(), "");
        QCOMPARE(model().verificationCode.get(), "");
    }

    void alertWithResult72IsASuccess() {
        f->reply("verify/did",
                 {{"errorCode", 1}, {"resultCode", 72}, {"alert", QJsonObject{{"message", "Done"}}}});
        verify("abc123");
        QVERIFY(model().showSucces.get());
        QCOMPARE(model().errorMessage.get(), "Done");
    }

    void unknownUserLogsOut_data() {
        QTest::addColumn<int>("resultCode");
        QTest::addColumn<QString>("serverMessage");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("loggedOutAtOnce");
        QTest::addColumn<bool>("loggedOutLater");

        QTest::newRow("2 with a message") << 2 << "Gone"
                                          << "Gone" << true << false;
        QTest::newRow("2 without a message") << 2 << "" << flows_resultMessage(2) << false << true;
        QTest::newRow("3 with a message") << 3 << "Gone"
                                          << "Gone" << false << false;
        QTest::newRow("3 without a message") << 3 << "" << flows_resultMessage(3) << false << true;
        QTest::newRow("another code") << 7 << "" << flows_resultMessage(7) << false << false;
    }

    void unknownUserLogsOut() {
        QFETCH(int, resultCode);
        QFETCH(QString, serverMessage);
        QFETCH(QString, message);
        QFETCH(bool, loggedOutAtOnce);
        QFETCH(bool, loggedOutLater);
        QJsonObject reply{{"errorCode", 1}, {"resultCode", resultCode}};
        if (!serverMessage.isEmpty())
            reply.insert("errorMessage", serverMessage);
        f->reply("verify/did", reply);

        verify("abc123");
        QCOMPARE(model().errorMessage.get(), message);
        QCOMPARE(!f->app->isSignedIn(), loggedOutAtOnce);
        f->clock.advance(2s);
        QCOMPARE(!f->app->isSignedIn(), loggedOutAtOnce || loggedOutLater);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(f->app->currentTab.get() == TabType::login, loggedOutAtOnce || loggedOutLater);
    }

    // The server no longer knows the user: leaving the screen within the two seconds must not keep the
    // session open.
    void unknownUserLogsOutAfterTheScreenWent() {
        f->reply("verify/did", {{"errorCode", 1}, {"resultCode", 3}});
        verify("abc123");
        QVERIFY(f->app->isSignedIn());
        m_model.reset();
        f->clock.advance(2s);
        QVERIFY(!f->app->isSignedIn());
    }

    void successBannerStillMinimisesAfterTheScreenWent() {
        f->reply("verify/did", with(success, {{"confirm", QJsonObject{{"message", "Confirm?"}}}}));
        f->reply("confirm/qid", success);
        verify("abc123");
        settle();
        QVERIFY(model().showSucces.get());
        m_model.reset();
        f->clock.advance(2s);
        QCOMPARE(f->windows.calls, QStringList{"miniaturize"});
    }

    void httpFailureReadsAsUnknown() {
        f->reply("verify/did", {{"message", "boom"}}, 500);
        model().errorMessage = "before";
        verify("abc123");
        QCOMPARE(model().errorMessage.get(), "An unknown error occurred");
        QVERIFY(!f->app->isLoading.get());
    }

    // The screen that owns the flow can go while a request is out; the overlay must not outlive it.
    void overlayClearsWhenTheScreenGoesMidRequest() {
        f->reply("verify/did", success);
        auto pending = model().verifyDid("abc123");
        QVERIFY(f->app->isLoading.get());
        m_model.reset();
        QTRY_VERIFY(!f->app->isLoading.get());
        QTRY_VERIFY(pending.isReady());
    }

    // Each of the three signed calls, when the keyring does not answer or holds no key the user may sign
    // with: nothing goes out, the overlay clears and the status line says why.
    void aSignatureWithoutAKeySendsNothingAndSaysWhy_data() {
        QTest::addColumn<QString>("call");
        QTest::addColumn<bool>("answers");
        for (const char* call : {"code", "confirmation", "second code"}) {
            QTest::addRow("%s, the keyring silent", call) << QString::fromLatin1(call) << false;
            QTest::addRow("%s, no key", call) << QString::fromLatin1(call) << true;
        }
    }

    void aSignatureWithoutAKeySendsNothingAndSaysWhy() {
        QFETCH(QString, call);
        QFETCH(bool, answers);
        const QString tag = *m_user.primaryAttr + "||" + *m_user.pin;
        const std::optional<SecureBytes> key = m_keys->find(tag);
        QVERIFY(key);
        if (answers) {
            // Under its tag lies something that is no key, so none can be made there either.
            m_keys->remove(tag, KeyStore::anyItem);
            QCOMPARE(m_keys->add(tag, SecureBytes(QByteArrayView("no key"))), KeyStore::success);
        } else {
            m_keys->setAvailable(false);
        }
        const auto restore = qScopeGuard([&] {
            m_keys->setAvailable(true);
            m_keys->remove(tag, KeyStore::anyItem);
            m_keys->add(tag, *key);
        });
        model().verificationCode = "ABC123";
        if (call == "code")
            verify("abc123");
        else if (call == "confirmation")
            QCoro::waitFor(model().confirmQid());
        else
            model().verifyCode("1234");
        settle();
        QVERIFY(f->service.received().isEmpty());
        QCOMPARE(model().errorMessage.get(),
                 answers ? flows::keyMissingMessage : flows::keyringUnansweredMessage);
    }

    void noKeyMaterialSendsNothingAndClearsTheOverlay() {
        f->app->authDetails.modify([](std::optional<AuthResponse>& user) { user->primaryAttr.reset(); });
        verify("abc123");
        QVERIFY(f->service.received().isEmpty());
        QVERIFY(!f->app->isLoading.get());

        QCoro::waitFor(model().confirmQid());
        model().verifyCode("1234");
        settle();
        QVERIFY(f->service.received().isEmpty());
    }

private:
    static QString flows_resultMessage(qint64 code);
};

#include "api/ResultCode.h"

QString TestApproval::flows_resultMessage(qint64 code) {
    return ResultCode::fromRawValue(code)->message();
}

QTEST_GUILESS_MAIN(TestApproval)
#include "tst_approval.moc"
