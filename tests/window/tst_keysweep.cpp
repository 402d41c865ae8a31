// What a start, a signature and a removal may take, delete or move in the desktop keyring. A key this
// version makes lies for good under a tag of its own, and the user's record names it; it is deleted only as
// the very key a record of this store names. Users stored by earlier versions keep signing with their own
// key. Every start is a client process of its own on a data folder; this process is the profile whose users
// must go on signing, against a real Secret Service.
#include "../flows/FlowFixture.h"

#include "flows/CreateAccountViewModel.h"
#include "flows/FlowSupport.h"
#include "flows/HomeViewModel.h"
#include "flows/RemoveUserViewModel.h"
#include "networking/NetworkingLogger.h"
#include "platform/SecretServiceKeyStore.h"
#include "storage/AppLogger.h"
#include "support/DamagedStore.h"
#include "support/LockedCollection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <qcoro/qcorotask.h>

namespace {

const QJsonObject validated{{"errorCode", 0}, {"resultCode", 0}, {"orgCode", "ORG1"}};
const QJsonObject approved{{"errorCode", 0}, {"resultCode", 0}};

struct Enrolled {
    QString zid;
    QString pin;
};

// A fresh key and its stored form, to be filed anywhere.
struct MadeKey {
    KeyChain::KeyPair pair;
    QByteArray der;
    KeyChain::KnownKey under(const QString& tag) const {
        return {tag, KeyChain::keyIdentity(pair.publicKey)};
    }
};

// A process of an earlier boot, long ended.
const QString endedRun = QStringLiteral("00000000-0000-0000-0000-000000000000/4242/1");

} // namespace

class TestKeySweep : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<FlowFixture> f;
    // The users of this profile who must go on signing with the key the service has for them.
    std::vector<Enrolled> m_enrolled;
    // In every name that becomes a key's tag: runs side by side share the keyring.
    const QString m_run = QStringLiteral("-%1").arg(QCoreApplication::applicationPid());
    // Items filed under the tags of further users of this profile, which nothing may delete.
    QStringList m_ownTags;
    int m_folders = 0;
    int m_codes = 0;

    QString profile() const { return m_dir.path(); }
    QString freshFolder() {
        const QString folder = m_dir.filePath(QStringLiteral("other-%1").arg(++m_folders));
        QDir().mkpath(folder);
        return folder;
    }

    // Looked up tag by tag: the other tests share the keyring and change it meanwhile.
    static bool inKeyring(const QString& tag) { return KeyChain::keyStore()->find(tag).has_value(); }
    static bool holds(const KeyChain::KnownKey& key) {
        return QCoro::waitFor(KeyChain::holdsKeyAsync(key)) == std::optional(true);
    }

    int ownKeysLeft() const { return int(std::count_if(m_ownTags.begin(), m_ownTags.end(), inKeyring)); }

    int rows(const QString& table) {
        QSqlQuery query(CoreDataManager::shared().persistentContainer().database());
        return query.exec(QStringLiteral("SELECT COUNT(*) FROM ") + table) && query.next()
                   ? query.value(0).toInt()
                   : -1;
    }
    int attemptRecords() { return rows(QStringLiteral("QVKeyAttempt")); }

    // The tags the recorded enrolments make their keys under, each of its own.
    QStringList attemptTags() {
        QSqlQuery query(CoreDataManager::shared().persistentContainer().database());
        QStringList tags;
        if (query.exec(QStringLiteral("SELECT tag FROM QVKeyAttempt ORDER BY Z_PK"))) {
            while (query.next())
                tags.append(query.value(0).toString());
        }
        return tags;
    }

    static std::optional<AuthResponse> stored(const QString& zid) {
        for (const AuthResponse& user :
             CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{})) {
            if (user.zid == zid)
                return user;
        }
        return std::nullopt;
    }
    static std::optional<KeyChain::KnownKey> keyOf(const Enrolled& enrolled) {
        const std::optional<AuthResponse> user = stored(enrolled.zid);
        return user ? KeyChain::namedKey(*user) : std::nullopt;
    }

    // Enrols through the registration flow, as a user of this profile does; the registration must
    // complete and the record name a key.
    Enrolled enrol(const QString& name, const QString& pin, const QString& org = QStringLiteral("ORG1"),
                   const std::optional<QString>& primaryAttr = std::nullopt) {
        const QString email = name + QStringLiteral("@example.com");
        f->reply(QStringLiteral("user/registration/validate"),
                 {{"errorCode", 0}, {"resultCode", 0}, {"orgCode", org}});
        f->checks.enrolAs(QStringLiteral("S-") + name + org,
                          primaryAttr.value_or(QStringLiteral("P-") + name), org);
        CreateAccountViewModel model(f->repository.get(), *f->app, f->clock);
        model.email = email;
        model.activationCode = QStringLiteral("ACT-%1-%2").arg(name).arg(++m_codes);
        QCoro::waitFor(model.validateUser(model.activationCode.get(), email));
        [&] { QVERIFY(model.isUserValidated.get()); }();
        QCoro::waitFor(model.createAccount(pin));
        [&] { QVERIFY2(model.isRegistered(), qPrintable(model.errorMessage.get())); }();
        const auto& user = f->app->authDetails.get();
        const Enrolled enrolled{user && user->zid ? *user->zid : QString(), pin};
        [&] { QVERIFY(keyOf(enrolled)); }();
        return enrolled;
    }

    // A user stored as an earlier version stored it: its record names no key, and the key the service has
    // for it is returned, to be filed where that version left it.
    MadeKey storeEarlierUser(const QString& name, const QString& pin, const QString& primaryAttr,
                             Enrolled& enrolled) {
        AuthResponse user;
        user.zid = QStringLiteral("Z-") + name;
        user.suid = QStringLiteral("S-") + name;
        user.email = name + QStringLiteral("@example.com");
        user.orgCode = QStringLiteral("ORG1");
        user.primaryAttr = primaryAttr;
        user.pin = KeyChain::sha256Hex(pin);
        CoreDataManager::shared().saveAuthResponse(user);
        const MadeKey key = makeKey();
        f->checks.registerKey(*user.zid, *KeyChain::publicKeyString(key.pair.publicKey));
        enrolled = {*user.zid, pin};
        return key;
    }

    // `enrolled` unlocks with the PIN on the flow of the unlock screen, which then shows the home screen,
    // and approves a sign-in; `sent` tells whether the approval went out.
    void unlockAndApprove(const Enrolled& enrolled, HomeViewModel& model, bool& sent) {
        unlock(enrolled, model);
        const qsizetype before = f->checks.checks().size();
        QCoro::waitFor(model.verifyDid(QStringLiteral("K7Q2M9")));
        sent = f->checks.checks().size() > before;
    }

    void unlock(const Enrolled& enrolled, HomeViewModel& model) {
        const std::optional<AuthResponse> user = stored(enrolled.zid);
        QVERIFY(user);
        f->app->authDetails = *user;
        model.verifyPin(user->displayEmail.value_or(QString()), enrolled.pin);
        QCOMPARE(f->app->currentTab.get(), TabType::homeScreen);
    }

    void logOut() {
        f->app->logout();
        QTRY_VERIFY(!f->app->isSignedIn());
    }

    // The user approves a sign-in, which the service takes only with a signature by the key it registered.
    void approves(const Enrolled& enrolled) {
        f->reply(QStringLiteral("verify/did"), approved);
        HomeViewModel model(f->repository.get(), *f->app, f->clock);
        bool sent = false;
        unlockAndApprove(enrolled, model, sent);
        QVERIFY2(sent && f->checks.checks().last().verified, qPrintable(enrolled.zid));
        logOut();
    }

    void everyEnrolledUserUnlocksAndApproves() {
        for (const Enrolled& enrolled : m_enrolled) {
            approves(enrolled);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // The user removes itself from the device through the remove-user flow, which the service takes only
    // with its signature.
    void removeThroughTheFlow(const Enrolled& enrolled) {
        f->reply(QStringLiteral("verify/did"), approved);
        f->reply(QStringLiteral("device/manage"), approved);
        HomeViewModel home(f->repository.get(), *f->app, f->clock);
        unlock(enrolled, home);
        RemoveUserViewModel removal(*f->app, f->repository.get());
        const qsizetype before = f->checks.checks().size();
        removal.removeUser();
        QTRY_VERIFY(!f->app->isSignedIn());
        QVERIFY(f->checks.checks().size() > before && f->checks.checks().last().verified);
        QVERIFY(!stored(enrolled.zid));
        std::erase_if(m_enrolled, [&](const Enrolled& user) { return user.zid == enrolled.zid; });
    }

    // Starts a client on `folder` and waits for it to end after its work on the keys, or to refuse the
    // store; this process keeps serving its requests meanwhile. `extra` goes after the usual arguments.
    QByteArray runClient(const QString& folder, const QStringList& extra = {},
                         const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        QProcess client;
        client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        client.setProcessEnvironment(environment);
        client.start(
            QStringLiteral(QUORVALE_KEYSWEEP_CHILD),
            QStringList{QStringLiteral("--data"), folder, QStringLiteral("--api"), f->service.baseURL()} +
                extra);
        if (!client.waitForStarted())
            return "did not start";
        QByteArray said;
        connect(&client, &QProcess::readyReadStandardOutput, this,
                [&] { said += client.readAllStandardOutput(); });
        if (!QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 60000))
            return said + "still running after a minute\n";
        said += client.readAllStandardOutput();
        if (client.exitStatus() != QProcess::NormalExit)
            said += "crashed\n";
        said += "exit " + QByteArray::number(client.exitCode()) + '\n';
        return said;
    }

    void startClientOn(const QString& folder) {
        const QByteArray said = runClient(folder);
        QVERIFY2(said.contains("swept\n") && said.endsWith("exit 0\n"), said.constData());
    }

    // Records in `store` (this profile's, unless given) an attempt of an ended run under `tag` that says it
    // made a key with `identity`, for the user of `zid` when given.
    void recordAbandonedAttempt(
        const QString& tag, const QString& identity, const QString& zid = QString(),
        const QSqlDatabase& store = CoreDataManager::shared().persistentContainer().database()) {
        QSqlQuery record(store);
        QVERIFY(record.prepare(
            QStringLiteral("INSERT INTO QVKeyAttempt (tag, owner, keyIdentity, zid) VALUES (?, ?, ?, ?)")));
        record.addBindValue(tag);
        record.addBindValue(endedRun);
        record.addBindValue(identity);
        record.addBindValue(zid.isEmpty() ? QVariant() : QVariant(zid));
        QVERIFY(record.exec());
    }

    MadeKey makeKey() {
        const QString scratch = QStringLiteral("scratch%1||%2").arg(m_run).arg(++m_codes);
        const std::optional<KeyChain::KeyPair> pair = KeyChain::getOrCreateKeyPair(scratch);
        const std::optional<SecureBytes> der = KeyChain::keyStore()->find(scratch);
        KeyChain::keyStore()->remove(scratch, KeyStore::anyItem);
        [&] { QVERIFY(pair && der); }();
        return {*pair, der ? der->view().toByteArray() : QByteArray()};
    }
    static bool file(const QString& tag, const MadeKey& key) {
        return KeyChain::keyStore()->add(tag, SecureBytes(key.der)) == KeyStore::success;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QUORVALE_SET_UP_ON_THE_KEYRING(m_dir);
        console::setSink([](const QString&) {});
        NetworkingLogger::setOutput([](const QString&) {});
        f = std::make_unique<FlowFixture>();
        f->reply(QStringLiteral("user/registration/validate"), validated);
        m_enrolled.push_back(enrol(QStringLiteral("alice") + m_run, QStringLiteral("135792")));
        m_enrolled.push_back(enrol(QStringLiteral("bob") + m_run, QStringLiteral("246801")));
        // Enough further users, each with an item under its tag, for their rows to fill several pages of
        // the store.
        for (int i = 0; i < 100; ++i) {
            AuthResponse user;
            user.zid = QStringLiteral("Z-%1").arg(i);
            user.suid = QStringLiteral("S-%1").arg(i);
            user.email = QStringLiteral("user%1@organisation.example.org").arg(i);
            user.orgCode = QStringLiteral("ORG1");
            user.primaryAttr = QStringLiteral("P%1-%2").arg(m_run).arg(i);
            user.pin = KeyChain::sha256Hex(QStringLiteral("%1").arg(100000 + i));
            CoreDataManager::shared().saveAuthResponse(user);
            const QString tag = *user.primaryAttr + QStringLiteral("||") + *user.pin;
            QCOMPARE(KeyChain::keyStore()->add(tag, SecureBytes(QByteArrayLiteral("a key of its own"))),
                     KeyStore::success);
            m_ownTags.append(tag);
        }
        QCOMPARE(ownKeysLeft(), m_ownTags.size());
    }

    void cleanupTestCase() {
        f.reset();
        for (const QString& tag : m_ownTags)
            KeyChain::keyStore()->remove(tag, KeyStore::anyItem);
        for (const AuthResponse& user :
             CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{})) {
            if (const std::optional<KeyChain::KnownKey> key = KeyChain::namedKey(user))
                KeyChain::deleteKnownKey(*key);
        }
    }

    // A store that knows nothing of this profile's keys says nothing about them: another profile on the
    // same keyring, this profile's store emptied (SQLite opens a file of 0 bytes as an empty database), or
    // a copy of it with a damaged page, whose walk over the users stops before the user that owns a key
    // recorded there as an abandoned enrolment's: that start stops before it touches the keyring.
    void aStartOnAnotherStoreLeavesThisProfilesKeys_data() {
        QTest::addColumn<QString>("store");
        QTest::newRow("another data folder") << "another";
        QTest::newRow("an emptied store") << "emptied";
        QTest::newRow("a damaged page") << "damaged";
    }

    void aStartOnAnotherStoreLeavesThisProfilesKeys() {
        QFETCH(QString, store);
        const QString folder = freshFolder();
        const QString path = folder + QStringLiteral("/QVModel.sqlite");
        if (store == "emptied") {
            QFile empty(path);
            QVERIFY(empty.open(QIODevice::WriteOnly));
        } else if (store == "damaged") {
            // Copied by SQLite itself: a plain copy opens and closes the live file in this process, which
            // drops SQLite's locks on it, and the next client to close the store takes itself for its last
            // user and deletes the log that this process still writes to.
            QSqlQuery copying(CoreDataManager::shared().persistentContainer().database());
            QVERIFY2(copying.exec(QStringLiteral("VACUUM INTO '%1'").arg(path)),
                     qPrintable(copying.lastError().text()));
            {
                QSqlDatabase copy =
                    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy"));
                copy.setDatabaseName(path);
                QVERIFY(copy.open());
                recordAbandonedAttempt(m_ownTags.last(), QString(64, u'F'), QString(), copy);
                copy.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("copy"));
            QVERIFY(damageMiddlePageOf(path, QStringLiteral("QVUserEntity")));
        }
        if (store == "damaged") {
            const QByteArray said = runClient(folder);
            QVERIFY2(said == "store refused\nexit 66\n", said.constData());
        } else {
            startClientOn(folder);
        }
        QCOMPARE(ownKeysLeft(), m_ownTags.size());
        everyEnrolledUserUnlocksAndApproves();
    }

    // The case the sweep is for: the run ends (killed) while an enrolment's registration is out. The next
    // start of the profile deletes that enrolment's key, and only that one.
    void aKilledEnrolmentsKeyGoesAtTheNextStart() {
        // The registration stays unanswered; everything else the service checks as before.
        f->service.setHandler([this](const ReceivedRequest& request) -> std::optional<ScriptedReply> {
            if (request.path.endsWith(QLatin1String("desktop/user/register")))
                return ScriptedReply::silence();
            return f->checks.handle(request);
        });
        const auto answerAgain = qScopeGuard([this] {
            f->service.setHandler(
                [this](const ReceivedRequest& request) { return f->checks.handle(request); });
        });
        f->service.clearReceived();
        QProcess client;
        client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        client.start(QStringLiteral(QUORVALE_KEYSWEEP_CHILD),
                     {QStringLiteral("--data"), profile(), QStringLiteral("--api"), f->service.baseURL(),
                      QStringLiteral("enrol"), QStringLiteral("carol%1@example.com").arg(m_run),
                      QStringLiteral("ACT-carol"), QStringLiteral("975310")});
        QVERIFY(client.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!f->bodies(QStringLiteral("desktop/user/register")).isEmpty(), 60000);
        client.kill();
        QVERIFY(client.waitForFinished(10000));
        QCOMPARE(attemptRecords(), 1);
        const QString tag = attemptTags().front();
        QVERIFY(inKeyring(tag));

        startClientOn(profile());
        QVERIFY(!inKeyring(tag));
        QCOMPARE(attemptRecords(), 0);
        QCOMPARE(ownKeysLeft(), m_ownTags.size());
        everyEnrolledUserUnlocksAndApproves();
    }

    // The window closes while an enrolment makes its key: the key that the run would still file as it
    // ends, with nothing left to record it, is never filed, and the next start leaves neither key nor
    // record behind.
    void quittingWhileTheKeyIsMadeLeavesNoKeyAfterTheNextStart() {
        // The coroutine the quit leaves waiting is the quit's own doing, not a leak of the client's.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LSAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        const QByteArray said =
            runClient(profile(),
                      {QStringLiteral("enrol"), QStringLiteral("dave%1@example.com").arg(m_run),
                       QStringLiteral("ACT-dave"), QStringLiteral("864209"), QStringLiteral("quit")},
                      environment);
        QVERIFY2(said.contains("quitting\n"), said.constData());
        QCOMPARE(attemptRecords(), 1);
        const QString tag = attemptTags().front();
        startClientOn(profile());
        QVERIFY(!inKeyring(tag));
        QCOMPARE(attemptRecords(), 0);
        QCOMPARE(ownKeysLeft(), m_ownTags.size());
    }

    // The record of an ended run names the key its enrolment made; the tag it was filed under holds
    // another key now (the same e-mail and PIN in another profile on the keyring, whose user signs with
    // it). That key stays, and the record goes.
    void aRecordWhoseTagNowNamesAnotherKeyDeletesNothing() {
        const QString tag =
            QStringLiteral("erin%1@example.com||").arg(m_run) + KeyChain::sha256Hex(QStringLiteral("753197"));
        const std::optional<KeyChain::KeyPair> others = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(others);
        const auto removeKey = qScopeGuard([&tag] { KeyChain::keyStore()->remove(tag, KeyStore::anyItem); });
        const std::optional<KeyChain::KeyPair> recorded =
            KeyChain::getOrCreateKeyPair(tag + QStringLiteral("-gone"));
        QVERIFY(recorded);
        KeyChain::keyStore()->remove(tag + QStringLiteral("-gone"), KeyStore::anyItem);
        recordAbandonedAttempt(tag, KeyChain::keyIdentity(recorded->publicKey));

        startClientOn(profile());
        const std::optional<KeyChain::KeyPair> kept = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(kept);
        QCOMPARE(KeyChain::keyIdentity(kept->publicKey), KeyChain::keyIdentity(others->publicKey));
        QCOMPARE(attemptRecords(), 0);
        QCOMPARE(ownKeysLeft(), m_ownTags.size());
    }

    // Users stored by an earlier version, whose records name no key, keep signing with the key the service
    // has for them: where an ended enrolment's record names it (the key named in the user's record as it
    // lies, nothing moved), and where that version's enrolment left it under the e-mail and PIN (moved to
    // the signing tag by the next start, or found there by the first signature). Once the key is known to be
    // the user's, its record names it.
    void anEarlierVersionsUserSignsWithItsOwnKey_data() {
        QTest::addColumn<QString>("left");
        QTest::addColumn<bool>("start");
        QTest::newRow("stranded under its e-mail and PIN, a start") << "e-mail" << true;
        QTest::newRow("stranded under its e-mail and PIN, no start") << "e-mail" << false;
        QTest::newRow("named by its enrolment's record, under the attempt's tag") << "attempt" << true;
        QTest::newRow("named by its enrolment's record, moved to its signing tag") << "moved" << true;
        QTest::newRow("signing under its e-mail, which an ended attempt names") << "signing" << true;
    }

    void anEarlierVersionsUserSignsWithItsOwnKey() {
        QFETCH(QString, left);
        QFETCH(bool, start);
        const QString name =
            QStringLiteral("judy-%1%2").arg(QTest::currentDataTag()[0] == 's' ? 1 : 2).arg(m_run) +
            QString::number(++m_codes);
        const QString email = name + QStringLiteral("@example.com");
        const QString pin = QStringLiteral("975318");
        const QString pinHash = KeyChain::sha256Hex(pin);
        const QString primaryAttr = left == "signing" ? email : QStringLiteral("P-") + name;
        Enrolled judy;
        const MadeKey key = storeEarlierUser(name, pin, primaryAttr, judy);
        const QString signingTag = primaryAttr + QStringLiteral("||") + pinHash;
        const QString attemptTag = KeyChain::attemptTag(email, pinHash);
        const QString where = left == "e-mail"    ? email + QStringLiteral("||") + pinHash
                              : left == "attempt" ? attemptTag
                                                  : signingTag;
        QVERIFY(file(where, key));
        if (left != "e-mail")
            recordAbandonedAttempt(left == "signing" ? signingTag : attemptTag, key.under(where).identity,
                                   left == "signing" ? QString() : judy.zid);
        if (start) {
            startClientOn(profile());
            QCOMPARE(attemptRecords(), 0);
        }
        const QString lies = left == "e-mail" && start ? signingTag : where;
        QVERIFY(holds(key.under(lies)));
        approves(judy);
        QCOMPARE(keyOf(judy), std::optional(key.under(lies)));
        m_enrolled.push_back(judy);
        everyEnrolledUserUnlocksAndApproves();
    }

    // A stored user whose signing tag is another stored user's enrolment tag (that user's e-mail as its
    // `primaryAttr`, and the same PIN) finds the other user's key there: neither a start nor its signature
    // takes it, nor makes a key of its own over it.
    void anotherStoredUsersKeyIsTakenByNobody_data() {
        QTest::addColumn<bool>("start");
        QTest::newRow("by a start") << true;
        QTest::newRow("by a signature") << false;
    }

    void anotherStoredUsersKeyIsTakenByNobody() {
        QFETCH(bool, start);
        const QString pin = QStringLiteral("864213");
        const QString pinHash = KeyChain::sha256Hex(pin);
        Enrolled owner;
        const QString ownerName = QStringLiteral("kate%1-%2").arg(m_run).arg(++m_codes);
        const QString otherName = QStringLiteral("leo") + ownerName;
        const QString otherEmail = otherName + QStringLiteral("@example.com");
        const MadeKey key = storeEarlierUser(ownerName, pin, otherEmail, owner);
        const QString ownerTag = otherEmail + QStringLiteral("||") + pinHash;
        QVERIFY(file(ownerTag, key));
        Enrolled other;
        storeEarlierUser(otherName, pin, QStringLiteral("Q-") + ownerName, other);
        const QString otherSigningTag = QStringLiteral("Q-") + ownerName + QStringLiteral("||") + pinHash;
        if (start) {
            startClientOn(profile());
        } else {
            f->reply(QStringLiteral("verify/did"), approved);
            HomeViewModel model(f->repository.get(), *f->app, f->clock);
            bool sent = true;
            unlockAndApprove(other, model, sent);
            QVERIFY(!sent);
            QCOMPARE(model.errorMessage.get(), flows::keyMissingMessage);
            logOut();
        }
        QVERIFY(holds(key.under(ownerTag)));
        QVERIFY(!inKeyring(otherSigningTag));
        approves(owner);
        QVERIFY(CoreDataManager::shared().deleteAuthResponse(other.zid));
        m_enrolled.push_back(owner);
    }

    // A user's key in a second keyring that stays locked (the unlock dismissed, or nothing to ask with) is
    // still the user's: the approval makes no key over it, sends nothing and says why. Once the keyring is
    // unlocked the user signs with the key the service knows.
    void aKeyringThatStaysLockedGetsNoNewKeyAndSaysSo_data() {
        QTest::addColumn<bool>("named");
        QTest::newRow("the key its record names") << true;
        QTest::newRow("an earlier version's key under its e-mail and PIN") << false;
    }

    void aKeyringThatStaysLockedGetsNoNewKeyAndSaysSo() {
        QFETCH(bool, named);
        Enrolled user = m_enrolled.front();
        std::optional<KeyChain::KnownKey> key = keyOf(user);
        std::optional<MadeKey> earlier;
        QString signingTag;
        if (!named) {
            const QString name = QStringLiteral("liam%1-%2").arg(m_run).arg(++m_codes);
            earlier = storeEarlierUser(name, QStringLiteral("531864"), QStringLiteral("P-") + name, user);
            signingTag = QStringLiteral("P-") + name + QStringLiteral("||") +
                         KeyChain::sha256Hex(QStringLiteral("531864"));
            key = earlier->under(name + QStringLiteral("@example.com||") +
                                 KeyChain::sha256Hex(QStringLiteral("531864")));
        }
        QVERIFY(key);
        std::vector<SecureBytes> secrets;
        QByteArray der = earlier ? earlier->der : QByteArray();
        if (named) {
            QCOMPARE(KeyChain::keyStore()->lookUp(key->tag, secrets), KeyStore::success);
            QCOMPARE(secrets.size(), size_t(1));
            der = secrets.front().view().toByteArray();
            QCOMPARE(KeyChain::keyStore()->remove(key->tag, KeyStore::anyItem), KeyStore::success);
        }
        LockedCollection collection;
        QVERIFY2(collection.error().isEmpty(), qPrintable(collection.error()));
        const auto restore = qScopeGuard([&] {
            collection.unlock();
            KeyChain::keyStore()->remove(key->tag, KeyStore::anyItem);
            KeyChain::keyStore()->add(key->tag, SecureBytes(der));
        });
        QVERIFY2(collection.file(key->tag, der), qPrintable(collection.error()));
        QVERIFY2(collection.lock(), qPrintable(collection.error()));

        f->reply(QStringLiteral("verify/did"), approved);
        HomeViewModel model(f->repository.get(), *f->app, f->clock);
        bool sent = true;
        unlockAndApprove(user, model, sent);
        QVERIFY(!sent);
        QCOMPARE(model.errorMessage.get(), flows::keyringUnansweredMessage);
        QVERIFY(!f->app->isLoading.get());
        if (!named)
            QVERIFY(!inKeyring(signingTag));
        logOut();

        QVERIFY2(collection.unlock(), qPrintable(collection.error()));
        QVERIFY(holds(*key));
        approves(user);
        if (!named)
            m_enrolled.push_back(user);
    }

    // The record of an ended run names a key that lies in a keyring that stays locked: the start cannot
    // tell whether it is there, so the record stays with the key, and a later start with the keyring
    // unlocked deletes that key.
    void aRecordWhoseKeyIsLockedAwayStaysWithItsKey() {
        const QString tag =
            QStringLiteral("ivan%1@example.com||").arg(m_run) + KeyChain::sha256Hex(QStringLiteral("112358"));
        const std::optional<KeyChain::KeyPair> made = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(made);
        const std::optional<SecureBytes> key = KeyChain::keyStore()->find(tag);
        QVERIFY(key);
        QCOMPARE(KeyChain::keyStore()->remove(tag, KeyStore::anyItem), KeyStore::success);
        LockedCollection collection;
        QVERIFY2(collection.error().isEmpty(), qPrintable(collection.error()));
        QVERIFY2(collection.file(tag, key->view().toByteArray()), qPrintable(collection.error()));
        QVERIFY2(collection.lock(), qPrintable(collection.error()));
        recordAbandonedAttempt(tag, KeyChain::keyIdentity(made->publicKey));

        startClientOn(profile());
        QCOMPARE(attemptRecords(), 1);
        QVERIFY2(collection.unlock(), qPrintable(collection.error()));
        QVERIFY(inKeyring(tag));

        startClientOn(profile());
        QVERIFY(!inKeyring(tag));
        QCOMPARE(attemptRecords(), 0);
        QCOMPARE(ownKeysLeft(), m_ownTags.size());
    }

    // Users whose tags an earlier version would have shared: the same `primaryAttr` and PIN in two
    // organisations, or one organisation's `primaryAttr` being the e-mail that the other's user enrols with
    // as well. Each signs with its own key, through the removal of either and a new enrolment.
    void usersSharingTagsEachSignWithTheirOwnKey_data() {
        QTest::addColumn<bool>("sameAttribute");
        QTest::addColumn<bool>("firstRemoved");
        QTest::newRow("one primaryAttr, the first removed") << true << true;
        QTest::newRow("one primaryAttr, the second removed") << true << false;
        QTest::newRow("the e-mail as primaryAttr, removed and enrolled again") << false << true;
    }

    void usersSharingTagsEachSignWithTheirOwnKey() {
        QFETCH(bool, sameAttribute);
        QFETCH(bool, firstRemoved);
        const QString name = QStringLiteral("mona%1-%2").arg(m_run).arg(++m_codes);
        const QString pin = QStringLiteral("192837");
        const QString email = name + QStringLiteral("@example.com");
        const QString shared = sameAttribute ? QStringLiteral("P-") + name : email;
        const Enrolled first = enrol(name, pin, QStringLiteral("ORG1"), shared);
        const Enrolled second =
            enrol(name, pin, QStringLiteral("ORG2"), sameAttribute ? shared : QStringLiteral("Q-") + name);
        const KeyChain::KnownKey firstKey = *keyOf(first);
        const KeyChain::KnownKey secondKey = *keyOf(second);
        QVERIFY(firstKey.tag != secondKey.tag && firstKey.identity != secondKey.identity);
        m_enrolled.push_back(first);
        m_enrolled.push_back(second);
        everyEnrolledUserUnlocksAndApproves();

        removeThroughTheFlow(firstRemoved ? first : second);
        QTRY_VERIFY(!holds(firstRemoved ? firstKey : secondKey));
        QVERIFY(holds(firstRemoved ? secondKey : firstKey));
        m_enrolled.push_back(
            enrol(name, pin, firstRemoved ? QStringLiteral("ORG1") : QStringLiteral("ORG3"), shared));
        everyEnrolledUserUnlocksAndApproves();
    }

    // The keyring locks as the removal deletes the key (its unlock dismissed): the user is gone from here and
    // from the service, and the key is deleted at the next start, while a new enrolment with the same
    // `primaryAttr` and PIN approves meanwhile.
    void aKeyTheKeyringDidNotDeleteGoesAtTheNextStart() {
        const QString name = QStringLiteral("nina%1-%2").arg(m_run).arg(++m_codes);
        const QString pin = QStringLiteral("314271");
        const Enrolled nina = enrol(name, pin);
        const KeyChain::KnownKey key = *keyOf(nina);
        // The session keeps the key it signed with, so the removal signs while the keyring is locked.
        approves(nina);
        f->reply(QStringLiteral("verify/did"), approved);
        HomeViewModel home(f->repository.get(), *f->app, f->clock);
        bool sent = false;
        unlockAndApprove(nina, home, sent);
        QVERIFY(sent && f->checks.checks().last().verified);
        std::vector<SecureBytes> secrets;
        QCOMPARE(KeyChain::keyStore()->lookUp(key.tag, secrets), KeyStore::success);
        const QByteArray der = secrets.front().view().toByteArray();
        QCOMPARE(KeyChain::keyStore()->remove(key.tag, KeyStore::anyItem), KeyStore::success);
        LockedCollection collection;
        QVERIFY2(collection.error().isEmpty(), qPrintable(collection.error()));
        QVERIFY2(collection.file(key.tag, der), qPrintable(collection.error()));
        QVERIFY2(collection.lock(), qPrintable(collection.error()));

        f->reply(QStringLiteral("device/manage"), approved);
        QFile log(m_dir.filePath(QStringLiteral("deletion.log")));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.close();
        AppLogger::shared().setLogFilePath(log.fileName());
        RemoveUserViewModel removal(*f->app, f->repository.get());
        removal.removeUser();
        QTRY_VERIFY(!f->app->isSignedIn());
        QVERIFY(f->checks.checks().last().verified);
        QVERIFY(!stored(nina.zid));
        const auto refused = [&] {
            QFile read(log.fileName());
            return read.open(QIODevice::ReadOnly) &&
                   read.readAll().contains("could not be deleted from the keyring yet");
        };
        QTRY_VERIFY_WITH_TIMEOUT(refused(), 60000);
        AppLogger::shared().setLogFilePath(std::nullopt);
        QCOMPARE(rows(QStringLiteral("QVKeyDeletion")), 1);

        m_enrolled.push_back(enrol(name, pin));
        everyEnrolledUserUnlocksAndApproves();

        QVERIFY2(collection.unlock(), qPrintable(collection.error()));
        QVERIFY(holds(key));
        startClientOn(profile());
        QVERIFY(!holds(key));
        QCOMPARE(rows(QStringLiteral("QVKeyDeletion")), 0);
        everyEnrolledUserUnlocksAndApproves();
    }

    // Another data folder on the same keyring enrols the same e-mail and PIN in an organisation whose
    // `primaryAttr` is the e-mail, and then registers anew there: this folder's user signs on.
    void anotherDataFolderRegisteringAnewLeavesThisFoldersKey() {
        const QString name = QStringLiteral("omar%1-%2").arg(m_run).arg(++m_codes);
        const QString email = name + QStringLiteral("@example.com");
        const QString pin = QStringLiteral("246813");
        const Enrolled here = enrol(name, pin, QStringLiteral("ORG1"), email);
        const KeyChain::KnownKey key = *keyOf(here);
        m_enrolled.push_back(here);
        const QString folder = freshFolder();
        for (int round = 0; round < 2; ++round) {
            f->reply(QStringLiteral("user/registration/validate"), validated);
            f->checks.enrolAs(QStringLiteral("S-2-") + name, email, QStringLiteral("ORG1"));
            const QByteArray said = runClient(folder, {QStringLiteral("enrol"), email,
                                                       QStringLiteral("ACT-%1-%2").arg(name).arg(++m_codes),
                                                       pin, QStringLiteral("end")});
            QVERIFY2(said.contains("\nregistered\n") && said.endsWith("exit 0\n"), said.constData());
        }
        QVERIFY(holds(key));
        everyEnrolledUserUnlocksAndApproves();
    }

    // Under the tag of a user's key lie other items as well, in another collection: one that is no key, and
    // for a named key another key. The user signs with its own key all the same.
    void aTagHoldingForeignItemsStillFindsTheKey_data() {
        QTest::addColumn<bool>("named");
        QTest::newRow("the key its record names") << true;
        QTest::newRow("an earlier version's key") << false;
    }

    void aTagHoldingForeignItemsStillFindsTheKey() {
        QFETCH(bool, named);
        Enrolled user = m_enrolled.back();
        QString tag;
        if (named) {
            tag = keyOf(user)->tag;
        } else {
            const QString name = QStringLiteral("pia%1-%2").arg(m_run).arg(++m_codes);
            const MadeKey key =
                storeEarlierUser(name, QStringLiteral("753186"), QStringLiteral("P-") + name, user);
            tag = QStringLiteral("P-") + name + QStringLiteral("||") +
                  KeyChain::sha256Hex(QStringLiteral("753186"));
            QVERIFY(file(tag, key));
            m_enrolled.push_back(user);
        }
        LockedCollection collection;
        QVERIFY2(collection.error().isEmpty(), qPrintable(collection.error()));
        QVERIFY2(collection.file(tag, QByteArrayLiteral("no key at all")), qPrintable(collection.error()));
        if (named)
            QVERIFY2(collection.file(tag, makeKey().der), qPrintable(collection.error()));
        everyEnrolledUserUnlocksAndApproves();
    }
};

QTEST_MAIN(TestKeySweep)
#include "tst_keysweep.moc"
