#include "FlowFixture.h"

#include "api/ResultCode.h"
#include "flows/CreateAccountViewModel.h"
#include "flows/FlowSupport.h"
#include "storage/AppLogger.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;

namespace {

const QString pin = QStringLiteral("135792");
const QString activation = QStringLiteral("ACT-5Q7W9Z");
const QJsonObject validated{{"errorCode", 0}, {"resultCode", 0}, {"orgCode", "ORG1"}};

} // namespace

class TestEnrolment : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryKeyStore> m_keys = std::make_shared<MemoryKeyStore>();
    std::unique_ptr<FlowFixture> f;
    QStringList m_console;

    std::unique_ptr<CreateAccountViewModel> makeModel() {
        return std::make_unique<CreateAccountViewModel>(f->repository.get(), *f->app, f->clock);
    }

    void validate(CreateAccountViewModel& model, const QString& email) {
        model.email = email;
        model.activationCode = activation;
        f->app->isLoading = true;
        QCoro::waitFor(model.validateUser(activation, email));
        QVERIFY(!f->app->isLoading.get());
    }

    AuthResponse storedUser(const QString& org) {
        AuthResponse user;
        user.suid = "S-0";
        user.zid = "Z-0-" + org;
        user.email = "alice@example.com";
        user.orgCode = org;
        user.primaryAttr = "P-0-" + org;
        user.pin = KeyChain::sha256Hex("975310");
        return user;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        FlowFixture::setUpProcess(m_dir, m_keys);
        AppLogger::shared().setLogFilePath(m_dir.filePath("quorvaleapp.log"));
        console::setSink([this](const QString& line) { m_console.append(line); });
    }

    void cleanupTestCase() { console::setSink({}); }

    void init() {
        m_keys->clear();
        f = std::make_unique<FlowFixture>();
    }

    int attemptRecords() { return int(attemptTags().size()); }

    // The tags the recorded enrolments make their keys under, each of its own.
    QStringList attemptTags() {
        QSqlQuery query(CoreDataManager::shared().persistentContainer().database());
        QStringList tags;
        if (query.exec("SELECT tag FROM QVKeyAttempt ORDER BY Z_PK")) {
            while (query.next())
                tags.append(query.value(0).toString());
        }
        return tags;
    }
    void cleanup() { f.reset(); }

    // One activation makes one user: once registered, the flow sends nothing more, and the service takes
    // the code only once, so another screen trying it again is refused as with an unknown code.
    void oneActivationMakesOneUser() {
        f->reply("user/registration/validate", validated);
        f->checks.enrolAs("S-6", "P-6", "ORG1");
        auto model = makeModel();
        validate(*model, "alice@example.com");
        QCoro::waitFor(model->createAccount(pin));
        QVERIFY(model->isRegistered());
        QCoro::waitFor(model->createAccount(pin));
        QVERIFY(!f->app->isLoading.get());
        QCOMPARE(f->bodies("desktop/user/register").size(), 1);
        QCOMPARE(CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).size(),
                 size_t(1));

        auto again = makeModel();
        validate(*again, "alice@example.com");
        QVERIFY(!again->isUserValidated.get());
        QCOMPARE(again->errorMessage.get(), ResultCode(ResultCode::activationCodeNotFound).message());
    }

    void enrolsTheDevice() {
        f->reply("user/registration/validate", validated);
        f->checks.enrolAs("S-9", "P-9", "ORG1");
        auto model = makeModel();
        validate(*model, "Alice@Example.com");

        const QList<QJsonObject> validation = f->bodies("user/registration/validate");
        QCOMPARE(validation.size(), 1);
        QCOMPARE(QStringList(validation[0].keys()),
                 (QStringList{"activationCode", "orgEmail", "timestamp", "type"}));
        QCOMPARE(validation[0].value("orgEmail").toString(), "alice@example.com");
        QCOMPARE(validation[0].value("type").toString(), "desktop");
        QVERIFY(model->isUserValidated.get());
        QVERIFY(!model->showUserExistWarning.get());

        // Completion is said only once the stored record names the key the keyring holds, under a tag of its
        // own, with the overlay gone right after.
        std::optional<int> keysWhenComplete;
        const rx::AnyCancellable complete = model->showSucces.sink([&](bool shown) {
            const auto stored =
                CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
            if (shown && stored.size() == 1 && stored[0].keyTag)
                keysWhenComplete = m_keys->count(*stored[0].keyTag);
        });
        QCoro::waitFor(model->createAccount(pin));
        QCOMPARE(keysWhenComplete, std::optional(1));
        QCOMPARE(m_keys->count("P-9||" + KeyChain::sha256Hex(pin)), 0);
        QVERIFY(!f->app->isLoading.get());
        const QList<QJsonObject> registration = f->bodies("desktop/user/register");
        QCOMPARE(registration.size(), 1);
        const QJsonObject& body = registration[0];
        QCOMPARE(QStringList(body.keys()),
                 (QStringList{"activationCode", "orgEmail", "publicKey", "timestamp", "zid"}));
        QCOMPARE(body.value("orgEmail").toString(), "alice@example.com");
        QCOMPARE(body.value("activationCode").toString(), activation);
        const QString zid = body.value("zid").toString();
        QVERIFY(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                    .match(zid)
                    .hasMatch());
        QVERIFY(body.value("publicKey").toString().startsWith("-----BEGIN PUBLIC KEY-----\n"));
        QCOMPARE(f->checks.registeredKey(zid), body.value("publicKey").toString());

        // The record names the one key there is, under a tag of its own, and it is the key the service
        // knows.
        const QString pinHash = KeyChain::sha256Hex(pin);
        QCOMPARE(m_keys->size(), 1);
        const auto stored =
            CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(stored.size(), size_t(1));
        const std::optional<KeyChain::KnownKey> named = KeyChain::namedKey(stored[0]);
        QVERIFY(named && named->tag.startsWith("alice@example.com||" + pinHash + "||"));
        const auto pair = KeyChain::getOrCreateKeyPair(named->tag);
        QVERIFY(pair);
        QCOMPARE(KeyChain::keyIdentity(pair->publicKey), named->identity);
        QCOMPARE(KeyChain::publicKeyString(pair->publicKey), body.value("publicKey").toString());
        // The attempt is over: nothing is left for a later start to sweep.
        QCOMPARE(attemptRecords(), 0);

        const auto& user = f->app->authDetails.get();
        QVERIFY(user);
        QCOMPARE(user->email, "alice@example.com");
        QCOMPARE(user->pin, pinHash);
        QCOMPARE(user->zid, zid);
        QCOMPARE(user->primaryAttr, "P-9");
        QCOMPARE(stored[0].email, "alice@example.com");
        QCOMPARE(stored[0].displayEmail, "alice@example.com");
        QCOMPARE(f->app->userDetailsList.get()->size(), size_t(1));
        QVERIFY(!f->app->isSignedIn());

        QVERIFY(model->showSucces.get());
        QCOMPARE(model->errorMessage.get(),
                 "Registration complete. You can login by selecting alice@example.com from the login tab.");
        f->app->currentTab = TabType::newRegisteration;
        f->clock.advance(1999ms);
        QCOMPARE(f->app->currentTab.get(), TabType::newRegisteration);
        f->clock.advance(1ms);
        QCOMPARE(f->app->currentTab.get(), TabType::login);
        QVERIFY(!model->showSucces.get());
        QCOMPARE(model->errorMessage.get(), "");
        QVERIFY(model->isUserValidated.get());

        // Neither the PIN nor the activation code reaches a log.
        QFile log(m_dir.filePath("quorvaleapp.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString logged = QString::fromUtf8(log.readAll()) + m_console.join('\n');
        QVERIFY(!logged.contains(pin));
        QVERIFY(!logged.contains(KeyChain::sha256Hex(pin)));
        QVERIFY(!logged.contains(activation));
    }

    // The service has registered the device by the time it answers; leaving the screen meanwhile must not
    // lose the new user or leave its key under the enrolment tag.
    void registrationIsKeptWhenTheScreenGoesMidRequest() {
        f->reply("user/registration/validate", validated);
        f->checks.enrolAs("S-8", "P-8", "ORG1");
        auto model = makeModel();
        validate(*model, "Alice@Example.com");
        QVERIFY(model->isUserValidated.get());
        connect(&f->service, &IdentityServiceDouble::requestReceived, this, [&] {
            if (f->service.lastRequest().path.endsWith("desktop/user/register"))
                model.reset();
        });

        auto pending = model->createAccount(pin);
        QTRY_VERIFY(pending.isReady());
        QVERIFY(!model);
        QVERIFY(!f->app->isLoading.get());
        const QString pinHash = KeyChain::sha256Hex(pin);
        const auto& user = f->app->authDetails.get();
        QVERIFY(user);
        QCOMPARE(user->email, "alice@example.com");
        QCOMPARE(user->pin, pinHash);
        QCOMPARE(CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).size(),
                 size_t(1));
        QCOMPARE(f->app->userDetailsList.get()->size(), size_t(1));
        QCOMPARE(m_keys->count("alice@example.com||" + pinHash), 0);
        QCOMPARE(m_keys->count("P-8||" + pinHash), 0);
        QVERIFY(user->keyTag);
        QCOMPARE(m_keys->count(*user->keyTag), 1);
    }

    void validationReply_data() {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QString>("message");

        QTest::newRow("alert wins over success")
            << QJsonObject{{"errorCode", 0},
                           {"resultCode", 0},
                           {"alert", QJsonObject{{"message", "Hold on"}}}}
            << "Hold on";
        QTest::newRow("result 0 without error code")
            << QJsonObject{{"resultCode", 0}} << ResultCode(ResultCode::success).message();
        QTest::newRow("server message")
            << QJsonObject{{"errorCode", 1}, {"resultCode", 9}, {"errorMessage", "Bad code"}} << "Bad code";
        QTest::newRow("result code message") << QJsonObject{{"errorCode", 1}, {"resultCode", 10}}
                                             << ResultCode(ResultCode::activationCodeExpired).message();
        QTest::newRow("no result code") << QJsonObject{{"errorCode", 1}} << "An unknown error occurred";
    }

    void validationReply() {
        QFETCH(QJsonObject, reply);
        QFETCH(QString, message);
        f->reply("user/registration/validate", reply);
        auto model = makeModel();
        validate(*model, "alice@example.com");
        QCOMPARE(model->errorMessage.get(), message);
        QVERIFY(!model->isUserValidated.get());
        QVERIFY(!model->showUserExistWarning.get());
        if (!reply.contains("alert")) {
            // A refusal is logged with the reply in its printed optional form.
            QFile log(m_dir.filePath("quorvaleapp.log"));
            QVERIFY(log.open(QIODevice::ReadOnly));
            const QString last = QString::fromUtf8(log.readAll()).trimmed().split('\n').last();
            QVERIFY2(last.contains("] Response: Optional(\"{\\n") && last.endsWith("\")"), qPrintable(last));
        }
    }

    void existingUser_data() {
        QTest::addColumn<QStringList>("storedOrgs");
        QTest::addColumn<bool>("warned");

        QTest::newRow("nobody stored") << QStringList{} << false;
        QTest::newRow("same address, other organisation") << QStringList{"ORG2"} << false;
        QTest::newRow("same address and organisation") << QStringList{"ORG2", "ORG1"} << true;
    }

    void existingUser() {
        QFETCH(QStringList, storedOrgs);
        QFETCH(bool, warned);
        for (const QString& org : storedOrgs) {
            const AuthResponse user = storedUser(org);
            CoreDataManager::shared().saveAuthResponse(user);
            QVERIFY(KeyChain::getOrCreateKeyPair(*user.primaryAttr + "||" + *user.pin));
        }
        f->app->userDetailsList =
            CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
        f->reply("user/registration/validate", validated);
        auto model = makeModel();
        validate(*model, "ALICE@example.com");
        QCOMPARE(model->showUserExistWarning.get(), warned);
        QCOMPARE(model->isUserValidated.get(), !warned);
        if (!warned)
            return;
        QCOMPARE(model->orgCode, "ORG1");

        model->deleteExistingUser();
        QVERIFY(model->isUserValidated.get());
        QVERIFY(!model->showUserExistWarning.get());
        QVERIFY(!model->orgCode);
        const auto left = CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(left.size(), size_t(1));
        QCOMPARE(left[0].orgCode, "ORG2");
        const AuthResponse removed = storedUser("ORG1");
        QTRY_COMPARE(m_keys->count(*removed.primaryAttr + "||" + *removed.pin), 0);
    }

    void registerAnewRefused() {
        auto model = makeModel();
        model->email = "alice@example.com";
        model->activationCode = activation;
        model->isChecked = true;
        model->showUserExistWarning = true;
        model->resetForm();
        QVERIFY(!model->isChecked.get());
        QVERIFY(!model->showUserExistWarning.get());
        QCOMPARE(model->email.get(), "");
        QCOMPARE(model->activationCode.get(), "");
    }

    void registrationRefused_data() {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QString>("message");

        QTest::newRow("known code") << QJsonObject{{"errorCode", 1},
                                                   {"resultCode", 36},
                                                   {"errorMessage", "unused"}}
                                    << ResultCode(ResultCode::deviceAddLimitReached).message();
        QTest::newRow("code without a case") << QJsonObject{{"errorCode", 1}, {"resultCode", 98}} << "";
        QTest::newRow("no result code") << QJsonObject{{"errorCode", 1}} << "An unknown error occurred";
        QTest::newRow("alert") << QJsonObject{{"errorCode", 0},
                                              {"resultCode", 0},
                                              {"alert", QJsonObject{{"message", "Wait"}}}}
                               << "Wait";
    }

    void registrationRefused() {
        QFETCH(QJsonObject, reply);
        QFETCH(QString, message);
        f->reply("user/registration/validate", validated);
        f->reply("desktop/user/register", reply);
        auto model = makeModel();
        validate(*model, "alice@example.com");
        model->errorMessage = "before";
        QCoro::waitFor(model->createAccount(pin));
        QCOMPARE(model->errorMessage.get(), message);
        QVERIFY(!f->app->isLoading.get());
        QVERIFY(!f->app->authDetails.get());
        QVERIFY(CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).empty());
        // No record names the key made for the attempt: it goes.
        QCOMPARE(m_keys->count("alice@example.com||" + KeyChain::sha256Hex(pin)), 0);
        // The refusal is logged with the reply, which by then carries the PIN hash.
        QFile log(m_dir.filePath("quorvaleapp.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString logged = QString::fromUtf8(log.readAll()) + m_console.join('\n');
        QVERIFY(!logged.contains(KeyChain::sha256Hex(pin)));
        QVERIFY(!logged.contains(activation));
    }

    // Whatever ends an attempt without a stored user, the key it made goes, and so does the attempt's
    // record. A key it found under its tag is not its own and stays: a stored user's (the same address and
    // PIN in another organisation), or one nothing here knows of (another profile's on the same keyring).
    void anAttemptThatStoresNoUserLeavesNoKey_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("keyBefore");
        QTest::newRow("service down") << "down"
                                      << "none";
        QTest::newRow("refused after the screen has gone") << "screen gone"
                                                           << "none";
        QTest::newRow("refused, the tag a stored user's") << "refused"
                                                          << "stored user's";
        QTest::newRow("refused, a key nobody here knows under the tag") << "refused"
                                                                        << "unknown";
    }
    void anAttemptThatStoresNoUserLeavesNoKey() {
        QFETCH(QString, ending);
        QFETCH(QString, keyBefore);
        const QString tag = "alice@example.com||" + KeyChain::sha256Hex(pin);
        if (keyBefore == "stored user's") {
            AuthResponse owner = storedUser("ORG2");
            owner.primaryAttr = "alice@example.com";
            owner.pin = KeyChain::sha256Hex(pin);
            CoreDataManager::shared().saveAuthResponse(owner);
        }
        if (keyBefore != "none")
            QVERIFY(KeyChain::getOrCreateKeyPair(tag));
        f->reply("user/registration/validate", validated);
        if (ending == "down")
            f->reply("desktop/user/register", {}, 503);
        else
            f->reply("desktop/user/register", {{"errorCode", 1}, {"resultCode", 36}});
        auto model = makeModel();
        validate(*model, "alice@example.com");
        if (ending == "screen gone")
            connect(&f->service, &IdentityServiceDouble::requestReceived, this, [&] {
                if (f->service.lastRequest().path.endsWith("desktop/user/register"))
                    model.reset();
            });
        auto pending = model->createAccount(pin);
        QTRY_VERIFY(pending.isReady());
        QCOMPARE(f->bodies("desktop/user/register").size(), 1);
        if (model)
            QCOMPARE(model->errorMessage.get(),
                     ending == "down" ? "An unknown error occurred"
                                      : ResultCode(ResultCode::deviceAddLimitReached).message());
        QCOMPARE(m_keys->count(tag), keyBefore == "none" ? 0 : 1);
        QCOMPARE(attemptRecords(), 0);
    }

    // The user is stored, but by then the keyring no longer holds the key its record names (another
    // program deleted it) or no longer answers: no completion is said, and nothing is left behind once the
    // keyring answers again.
    void noCompletionWithoutTheNamedKey_data() {
        QTest::addColumn<bool>("answers");
        QTest::newRow("the key gone") << true;
        QTest::newRow("the keyring silent") << false;
    }

    void noCompletionWithoutTheNamedKey() {
        QFETCH(bool, answers);
        f->reply("user/registration/validate", validated);
        f->checks.enrolAs("S-8", "P-8", "ORG1");
        auto model = makeModel();
        validate(*model, "alice@example.com");
        connect(&f->service, &IdentityServiceDouble::requestReceived, this, [&] {
            if (!f->service.lastRequest().path.endsWith("desktop/user/register"))
                return;
            if (answers)
                m_keys->clear();
            else
                m_keys->setAvailable(false);
        });
        QCoro::waitFor(model->createAccount(pin));
        QVERIFY(!model->isRegistered());
        QVERIFY(!model->showSucces.get());
        QCOMPARE(model->errorMessage.get(),
                 answers ? flows::unknownErrorMessage : flows::keyringUnansweredMessage);
        QVERIFY(!f->app->isLoading.get());
        QVERIFY(CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).empty());
        QVERIFY(f->app->userDetailsList.get()->empty());
        m_keys->setAvailable(true);

        // The next start: this run's records are those of a run that has ended by then.
        QSqlQuery endedRun(CoreDataManager::shared().persistentContainer().database());
        QVERIFY(
            endedRun.exec("UPDATE QVKeyAttempt SET owner = '00000000-0000-0000-0000-000000000000/4242/1'"));
        const QFuture<void> settled = CoreDataManager::shared().settleDeviceKeys();
        QTRY_VERIFY(settled.isFinished());
        QTRY_COMPARE(m_keys->size(), 0);
        QCOMPARE(attemptRecords(), 0);
        const auto deletionRecords = [] {
            QSqlQuery left(CoreDataManager::shared().persistentContainer().database());
            return left.exec("SELECT COUNT(*) FROM QVKeyDeletion") && left.next() ? left.value(0).toInt()
                                                                                  : -1;
        };
        QTRY_COMPARE(deletionRecords(), 0);
    }

    // Without its record a key left by a run that ends meanwhile could never be told from a user's key, so
    // an attempt whose record the store refuses makes none; nor does one whose record cannot name the key,
    // which is named before the keyring holds it.
    void anAttemptTheStoreCannotRecordMakesNoKey_data() {
        QTest::addColumn<QString>("refused");
        QTest::newRow("the record") << "INSERT";
        QTest::newRow("the key's name") << "UPDATE OF keyIdentity";
        QTest::newRow("the user the key is for") << "UPDATE OF zid";
    }

    void anAttemptTheStoreCannotRecordMakesNoKey() {
        QFETCH(QString, refused);
        const bool registers = refused.endsWith("zid");
        f->reply("user/registration/validate", validated);
        f->checks.enrolAs("S-7", "P-7", "ORG1");
        auto model = makeModel();
        validate(*model, "alice@example.com");
        QSqlDatabase db = CoreDataManager::shared().persistentContainer().database();
        QVERIFY(QSqlQuery(db).exec(
            "CREATE TEMP TRIGGER refuseRecords BEFORE " + refused +
            " ON QVKeyAttempt BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"));
        f->app->isLoading = true;
        QCoro::waitFor(model->createAccount(pin));
        QVERIFY(QSqlQuery(db).exec("DROP TRIGGER refuseRecords"));
        QCOMPARE(model->errorMessage.get(), "An unknown error occurred");
        QVERIFY(!f->app->isLoading.get());
        // The user is named in the attempt's record before it is stored: without that, it is not stored.
        QCOMPARE(f->bodies("desktop/user/register").size(), registers ? 1 : 0);
        QVERIFY(CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).empty());
        QCOMPARE(m_keys->size(), 0);
        QCOMPARE(attemptRecords(), 0);
    }

    // The service takes the registration, but the store refuses the new row (a full disk, a read-only
    // file): nobody is enrolled here, so nothing may say so, and the key goes.
    void aRegistrationTheStoreRefusesIsNoSuccess() {
        f->reply("user/registration/validate", validated);
        f->checks.enrolAs("S-7", "P-7", "ORG1");
        auto model = makeModel();
        validate(*model, "alice@example.com");
        {
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
            other.setDatabaseName(m_dir.filePath("QVModel.sqlite"));
            QVERIFY(other.open());
            QVERIFY(QSqlQuery(other).exec("CREATE TRIGGER refuseNewRows BEFORE INSERT ON QVUserEntity "
                                          "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"));
        }
        QSqlDatabase::removeDatabase("other");
        m_console.clear();
        QCoro::waitFor(model->createAccount(pin));
        QVERIFY(QSqlQuery(CoreDataManager::shared().persistentContainer().database())
                    .exec("DROP TRIGGER refuseNewRows"));

        QCOMPARE(f->bodies("desktop/user/register").size(), 1);
        QVERIFY(m_console.filter("Error saving auth response: ").size() == 1);
        QCOMPARE(model->errorMessage.get(), "An unknown error occurred");
        QVERIFY(!model->showSucces.get());
        QVERIFY(!model->isRegistered());
        QVERIFY(!f->app->isLoading.get());
        QVERIFY(!f->app->authDetails.get());
        QVERIFY(CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).empty());
        QVERIFY(f->app->userDetailsList.get()->empty());
        const QString pinHash = KeyChain::sha256Hex(pin);
        QCOMPARE(m_keys->count("alice@example.com||" + pinHash), 0);
        QCOMPARE(m_keys->count("P-7||" + pinHash), 0);
    }

    void noValidationRequestSendsNothingAndClearsTheOverlay() {
        auto model = makeModel();
        model->email = "alice@example.com";
        QCoro::waitFor(model->createAccount(pin));
        QVERIFY(f->service.received().isEmpty());
        QVERIFY(!f->app->isLoading.get());
    }

    void unreachableKeyStoreSendsNothingAndClearsTheOverlay() {
        f->reply("user/registration/validate", validated);
        auto model = makeModel();
        validate(*model, "bob@example.com");
        m_keys->setAvailable(false);
        QCoro::waitFor(model->createAccount(pin));
        m_keys->setAvailable(true);
        QVERIFY(f->bodies("desktop/user/register").isEmpty());
        QVERIFY(!f->app->isLoading.get());
        QCOMPARE(model->errorMessage.get(), flows::keyringUnansweredMessage);
    }

    void transportFailure() {
        f->reply("user/registration/validate", {}, 404);
        auto model = makeModel();
        validate(*model, "alice@example.com");
        QCOMPARE(model->errorMessage.get(), "An unknown error occurred");
    }
};

QTEST_GUILESS_MAIN(TestEnrolment)
#include "tst_enrolment.moc"
