#include "FlowFixture.h"

#include "api/ResultCode.h"
#include "flows/FlowSupport.h"
#include "flows/RemoveUserViewModel.h"
#include "platform/SecureBytes.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <memory>

namespace {

// An RSA key of 256 bits: a valid key, too short for a PKCS#1 v1.5 SHA-256 signature. Built from its
// numbers, since key generation refuses such sizes.
QByteArray tooShortRsaKeyDer() {
    using Bn = std::unique_ptr<BIGNUM, decltype(&BN_clear_free)>;
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    Bn p(BN_new(), BN_clear_free), q(BN_new(), BN_clear_free), n(BN_new(), BN_clear_free),
        e(BN_new(), BN_clear_free), d(BN_new(), BN_clear_free), p1(BN_new(), BN_clear_free),
        q1(BN_new(), BN_clear_free), phi(BN_new(), BN_clear_free), dp(BN_new(), BN_clear_free),
        dq(BN_new(), BN_clear_free), qi(BN_new(), BN_clear_free);
    BN_set_word(e.get(), 65537);
    do {
        BN_generate_prime_ex(p.get(), 128, 0, nullptr, nullptr, nullptr);
        BN_generate_prime_ex(q.get(), 128, 0, nullptr, nullptr, nullptr);
        BN_mul(n.get(), p.get(), q.get(), ctx.get());
        BN_sub(p1.get(), p.get(), BN_value_one());
        BN_sub(q1.get(), q.get(), BN_value_one());
        BN_mul(phi.get(), p1.get(), q1.get(), ctx.get());
    } while (!BN_mod_inverse(d.get(), e.get(), phi.get(), ctx.get()));
    BN_mod(dp.get(), d.get(), p1.get(), ctx.get());
    BN_mod(dq.get(), d.get(), q1.get(), ctx.get());
    BN_mod_inverse(qi.get(), q.get(), p.get(), ctx.get());

    std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> build(OSSL_PARAM_BLD_new(),
                                                                          OSSL_PARAM_BLD_free);
    OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, n.get());
    OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, e.get());
    OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_D, d.get());
    OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_FACTOR1, p.get());
    OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_FACTOR2, q.get());
    OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1, dp.get());
    OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2, dq.get());
    OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1, qi.get());
    std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)> params(OSSL_PARAM_BLD_to_param(build.get()),
                                                                   OSSL_PARAM_free);
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> keyCtx(
        EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_fromdata_init(keyCtx.get()) != 1 ||
        EVP_PKEY_fromdata(keyCtx.get(), &raw, EVP_PKEY_KEYPAIR, params.get()) != 1)
        return {};
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(raw, EVP_PKEY_free);
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(EVP_PKEY2PKCS8(key.get()),
                                                                                   PKCS8_PRIV_KEY_INFO_free);
    unsigned char* der = nullptr;
    const int length = i2d_PKCS8_PRIV_KEY_INFO(info.get(), &der);
    if (length <= 0)
        return {};
    QByteArray result(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    return result;
}

QString message(qint64 code) {
    return ResultCode::fromRawValue(code)->message();
}

} // namespace

class TestRemoval : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryKeyStore> m_keys = std::make_shared<MemoryKeyStore>();
    AuthResponse m_user;
    QString m_pem;
    std::unique_ptr<FlowFixture> f;

    QString finalTag() const { return *m_user.primaryAttr + "||" + *m_user.pin; }

    bool stillEnrolled() const {
        for (const AuthResponse& user :
             CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}))
            if (user.zid == m_user.zid)
                return true;
        return false;
    }

    // Runs the removal until its reply or error is handled (a logout may raise the overlay again).
    void remove(RemoveUserViewModel& model) {
        QList<bool> loading;
        const rx::AnyCancellable watch = f->app->isLoading.sink([&](bool on) { loading.append(on); });
        model.removeUser();
        QTRY_VERIFY(loading.size() >= 3 && loading[1] && !loading[2]);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        FlowFixture::setUpProcess(m_dir, m_keys);
        console::setSink([](const QString&) {});
        m_user = FlowFixture::enrolledUser(KeyChain::sha256Hex("135792"));
        const auto pair = KeyChain::getOrCreateKeyPair(finalTag());
        QVERIFY(pair);
        m_pem = *KeyChain::publicKeyString(pair->publicKey);
    }

    void cleanupTestCase() { console::setSink({}); }

    void init() {
        f = std::make_unique<FlowFixture>();
        f->signIn(m_user, m_pem);
        if (m_keys->count(finalTag()) == 0)
            QVERIFY(KeyChain::getOrCreateKeyPair(finalTag()));
        f->checks.registerKey(
            *m_user.zid, *KeyChain::publicKeyString(KeyChain::getOrCreateKeyPair(finalTag())->publicKey));
    }

    void cleanup() { f.reset(); }

    // The service has forgotten the device by the time it answers; closing the dialog meanwhile must not
    // leave the user enrolled here.
    void removalIsKeptWhenTheDialogGoesMidRequest_data() {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<bool>("removed");
        QTest::newRow("success") << QJsonObject{{"errorCode", 0}, {"resultCode", 0}} << true;
        QTest::newRow("device unknown") << QJsonObject{{"errorCode", 1}, {"resultCode", 19}} << true;
        QTest::newRow("refused") << QJsonObject{{"errorCode", 1}, {"resultCode", 7}} << false;
    }

    void removalIsKeptWhenTheDialogGoesMidRequest() {
        QFETCH(QJsonObject, reply);
        QFETCH(bool, removed);
        f->reply("device/manage", reply);
        auto model = std::make_unique<RemoveUserViewModel>(*f->app, f->repository.get());
        connect(&f->service, &IdentityServiceDouble::requestReceived, this, [&] { model.reset(); });
        model->removeUser();
        QTRY_VERIFY(!model);
        // A removal logs out, which raises the overlay for its own two seconds.
        QTRY_VERIFY(!removed || !f->app->isSignedIn());
        QTRY_VERIFY(removed || !f->app->isLoading.get());
        QCOMPARE(stillEnrolled(), !removed);
        // The keyring deletes the key after the removal is shown.
        QTRY_COMPARE(m_keys->count(finalTag()), removed ? 0 : 1);
        QTRY_VERIFY(FlowFixture::removedKeysDeleted());
    }

    // The service has let the device go, but the store cannot read its users any more (a failing disk):
    // nothing shows this computer as one where nobody is enrolled, and the removal says that it failed.
    void aStoreThatCannotReadItsUsersIsNotShownAsEmpty() {
        f->reply("device/manage", {{"errorCode", 0}, {"resultCode", 0}});
        // A user whose record names its key signs without asking the store where the key lies.
        const auto pair = KeyChain::getOrCreateKeyPair(finalTag());
        QVERIFY(pair);
        f->app->authDetails.modify([&](std::optional<AuthResponse>& user) {
            user->keyTag = finalTag();
            user->keyIdentity = KeyChain::keyIdentity(pair->publicKey);
        });
        AuthResponse other = FlowFixture::enrolledUser("PINHASH-2");
        other.zid = "Z-2";
        other.primaryAttr = "P-2";
        CoreDataManager::shared().saveAuthResponse(other);
        QVERIFY(f->app->reloadStoredUsers());
        RemoveUserViewModel model(*f->app, f->repository.get());
        QSqlDatabase db = CoreDataManager::shared().persistentContainer().database();
        QVERIFY(QSqlQuery(db).exec("ALTER TABLE QVUserEntity RENAME TO QVUserEntityAway"));
        remove(model);
        QVERIFY(QSqlQuery(db).exec("ALTER TABLE QVUserEntityAway RENAME TO QVUserEntity"));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(model.errorMessage.get(), "An unknown error occurred");
        QCOMPARE(f->app->userDetailsList.get()->size(), size_t(2));
        QCOMPARE(f->app->currentTab.get(), TabType::login);
        QVERIFY(stillEnrolled());
        QCOMPARE(m_keys->count(finalTag()), 1);
    }

    void reply_data() {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<bool>("removed");
        QTest::addColumn<QString>("shown");

        QTest::newRow("success") << QJsonObject{{"errorCode", 0}, {"resultCode", 0}} << true << "";
        QTest::newRow("success with an alert")
            << QJsonObject{{"errorCode", 0}, {"resultCode", 0}, {"alert", QJsonObject{{"message", "Bye"}}}}
            << true << "Bye";
        QTest::newRow("device unknown, server message")
            << QJsonObject{{"errorCode", 1}, {"resultCode", 19}, {"errorMessage", "Not here"}} << true
            << "Not here";
        QTest::newRow("device unknown")
            << QJsonObject{{"errorCode", 1}, {"resultCode", 19}} << true << message(19);
        QTest::newRow("result 0 without error code") << QJsonObject{{"resultCode", 0}} << false << message(0);
        QTest::newRow("refused with a message")
            << QJsonObject{{"errorCode", 1}, {"resultCode", 7}, {"errorMessage", "No"}} << false << "No";
        QTest::newRow("unknown result code")
            << QJsonObject{{"errorCode", 1}, {"resultCode", 999}} << false << "An unknown error occurred";
        QTest::newRow("no result code")
            << QJsonObject{{"errorCode", 1}} << false << "An unknown error occurred";
    }

    void reply() {
        QFETCH(QJsonObject, reply);
        QFETCH(bool, removed);
        QFETCH(QString, shown);
        f->reply("device/manage", reply);
        RemoveUserViewModel model(*f->app, f->repository.get());
        remove(model);

        const QList<QJsonObject> sent = f->bodies("device/manage");
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].value("action").toString(), "remove");
        QCOMPARE(sent[0].value("requestZid").toString(), "Z-1");
        QCOMPARE(f->checks.checks().size(), 1);
        QCOMPARE(f->checks.checks()[0].message, "S-1||Z-1");
        QVERIFY(f->checks.checks()[0].verified);

        QCOMPARE(model.errorMessage.get(), shown);
        QCOMPARE(stillEnrolled(), !removed);
        // The keyring deletes the key after the removal is shown.
        QTRY_COMPARE(m_keys->count(finalTag()), removed ? 0 : 1);
        QTRY_VERIFY(FlowFixture::removedKeysDeleted());
        QCOMPARE(f->app->isSignedIn(), !removed);
        QCoreApplication::sendPostedEvents();
        if (removed)
            QCOMPARE(f->app->tabs.get(), loggedOutTabs);
    }

    void signatureThatCannotBeMadeIsLeftOut() {
        m_keys->remove(finalTag(), KeyStore::anyItem);
        const QByteArray der = tooShortRsaKeyDer();
        QVERIFY(!der.isEmpty());
        QCOMPARE(m_keys->add(finalTag(), SecureBytes(der)), KeyStore::success);
        f->reply("device/manage", {{"errorCode", 0}, {"resultCode", 0}});

        RemoveUserViewModel model(*f->app, f->repository.get());
        remove(model);
        const QList<QJsonObject> sent = f->bodies("device/manage");
        QCOMPARE(sent.size(), 1);
        QVERIFY(!sent[0].contains("signature"));
        QCOMPARE(QString::number(sent[0].value("timestamp").toInteger()).size(), 13);
        // The service decides: it refuses an unsigned request.
        QCOMPARE(model.errorMessage.get(), "Signature not matching");
        QVERIFY(stillEnrolled());
        m_keys->remove(finalTag(), KeyStore::anyItem);
    }

    // The removal is signed like an approval: a keyring that does not answer sends nothing, and says so.
    void aKeyringThatDoesNotAnswerSendsNoRemovalAndSaysSo() {
        m_keys->setAvailable(false);
        RemoveUserViewModel model(*f->app, f->repository.get());
        remove(model);
        m_keys->setAvailable(true);
        QVERIFY(f->service.received().isEmpty());
        QCOMPARE(model.errorMessage.get(), flows::keyringUnansweredMessage);
        QVERIFY(!f->app->isLoading.get());
        QVERIFY(stillEnrolled());
    }

    void recordWithoutKeyTagSendsNothingAndClearsTheOverlay() {
        f->app->authDetails.modify([](std::optional<AuthResponse>& user) { user->pin.reset(); });
        RemoveUserViewModel model(*f->app, f->repository.get());
        remove(model);
        QTest::qWait(50);
        QVERIFY(f->service.received().isEmpty());
        QCOMPARE(model.errorMessage.get(), "");
        QVERIFY(!f->app->isLoading.get());
    }

    void httpFailureReadsAsUnknown() {
        f->reply("device/manage", {}, 503);
        RemoveUserViewModel model(*f->app, f->repository.get());
        remove(model);
        QCOMPARE(model.errorMessage.get(), "An unknown error occurred");
        QVERIFY(stillEnrolled());
    }
};

QTEST_GUILESS_MAIN(TestRemoval)
#include "tst_removal.moc"
