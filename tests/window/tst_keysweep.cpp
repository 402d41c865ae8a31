// What a start may delete or move in the desktop keyring: it deletes only the very key its own store
// records an enrolment of a run that ended as having made, and it moves a stored user's key that its
// enrolment left under the enrolment tag to the signing tag. Every start is a client process of its own on a
// data folder; this process is the profile whose users must go on signing, against a real Secret Service.
#include "../flows/FlowFixture.h"

#include "flows/CreateAccountViewModel.h"
#include "flows/FlowSupport.h"
#include "flows/HomeViewModel.h"
#include "networking/NetworkingLogger.h"
#include "platform/SecretServiceKeyStore.h"
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
    QString enrolmentTag;
    QString signingTag;
};

// A process of an earlier boot, long ended.
const QString endedRun = QStringLiteral("00000000-0000-0000-0000-000000000000/4242/1");

} // namespace

class TestKeySweep : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<FlowFixture> f;
    std::vector<Enrolled> m_enrolled;
    // In every name that becomes a key's tag: runs side by side share the keyring.
    const QString m_run = QStringLiteral("-%1").arg(QCoreApplication::applicationPid());
    // Every key this profile's users sign with.
    QStringList m_ownTags;
    int m_folders = 0;

    QString profile() const { return m_dir.path(); }
    QString freshFolder() {
        const QString folder = m_dir.filePath(QStringLiteral("other-%1").arg(++m_folders));
        QDir().mkpath(folder);
        return folder;
    }

    // Looked up tag by tag: the other tests share the keyring and change it meanwhile.
    static bool inKeyring(const QString& tag) { return KeyChain::keyStore()->find(tag).has_value(); }

    int ownKeysLeft() const { return int(std::count_if(m_ownTags.begin(), m_ownTags.end(), inKeyring)); }

    int attemptRecords() { return int(attemptTags().size()); }

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

    // Enrols through the registration flow, as a user of this profile does.
    void enrol(const QString& name, const QString& pin, const QString& org = QStringLiteral("ORG1"),
               const std::optional<QString>& primaryAttr = std::nullopt) {
        const QString email = name + QStringLiteral("@example.com");
        f->reply(QStringLiteral("user/registration/validate"),
                 {{"errorCode", 0}, {"resultCode", 0}, {"orgCode", org}});
        f->checks.enrolAs(QStringLiteral("S-") + name + org,
                          primaryAttr.value_or(QStringLiteral("P-") + name), org);
        CreateAccountViewModel model(f->repository.get(), *f->app, f->clock);
        model.email = email;
        model.activationCode = QStringLiteral("ACT-") + name + org;
        QCoro::waitFor(model.validateUser(model.activationCode.get(), email));
        QVERIFY(model.isUserValidated.get());
        QCoro::waitFor(model.createAccount(pin));
        QVERIFY2(model.isRegistered(), qPrintable(model.errorMessage.get()));
        const auto& user = f->app->authDetails.get();
        QVERIFY(user && user->zid);
        m_enrolled.push_back({*user->zid, pin, email + QStringLiteral("||") + *user->pin,
                              *user->primaryAttr + QStringLiteral("||") + *user->pin});
        m_ownTags.append(m_enrolled.back().signingTag);
    }

    // `enrolled` unlocks with the PIN on the flow of the unlock screen, which then shows the home screen,
    // and approves a sign-in; `sent` tells whether the approval went out.
    void unlockAndApprove(const Enrolled& enrolled, HomeViewModel& model, bool& sent) {
        const std::vector<AuthResponse> users =
            CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
        const auto user = std::find_if(users.begin(), users.end(), [&](const AuthResponse& record) {
            return record.zid == enrolled.zid;
        });
        QVERIFY(user != users.end());
        f->app->authDetails = *user;
        model.verifyPin(user->displayEmail.value_or(QString()), enrolled.pin);
        QCOMPARE(f->app->currentTab.get(), TabType::homeScreen);
        const qsizetype before = f->checks.checks().size();
        QCoro::waitFor(model.verifyDid(QStringLiteral("K7Q2M9")));
        sent = f->checks.checks().size() > before;
    }

    // Each user of the profile unlocks with the PIN and approves a sign-in, which the service takes only
    // with a signature by the key it registered.
    void everyEnrolledUserUnlocksAndApproves() {
        f->reply(QStringLiteral("verify/did"), approved);
        for (const Enrolled& enrolled : m_enrolled) {
            HomeViewModel model(f->repository.get(), *f->app, f->clock);
            bool sent = false;
            unlockAndApprove(enrolled, model, sent);
            QVERIFY2(sent && f->checks.checks().last().verified, qPrintable(enrolled.zid));
            f->app->logout();
            QTRY_VERIFY(!f->app->isSignedIn());
        }
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
    // made a key with `identity`.
    void recordAbandonedAttempt(
        const QString& tag, const QString& identity,
        const QSqlDatabase& store = CoreDataManager::shared().persistentContainer().database()) {
        QSqlQuery record(store);
        QVERIFY(record.prepare(
            QStringLiteral("INSERT INTO QVKeyAttempt (tag, owner, keyIdentity) VALUES (?, ?, ?)")));
        record.addBindValue(tag);
        record.addBindValue(endedRun);
        record.addBindValue(identity);
        QVERIFY(record.exec());
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QUORVALE_SET_UP_ON_THE_KEYRING(m_dir);
        console::setSink([](const QString&) {});
        NetworkingLogger::setOutput([](const QString&) {});
        f = std::make_unique<FlowFixture>();
        f->reply(QStringLiteral("user/registration/validate"), validated);
        enrol(QStringLiteral("alice") + m_run, QStringLiteral("135792"));
        enrol(QStringLiteral("bob") + m_run, QStringLiteral("246801"));
        // Enough further users, each with a key, for their rows to fill several pages of the store.
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
            KeyChain::keyStore()->remove(tag);
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
                recordAbandonedAttempt(m_ownTags.last(), QString(64, u'F'), copy);
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
        const auto removeKey = qScopeGuard([&tag] { KeyChain::keyStore()->remove(tag); });
        const std::optional<KeyChain::KeyPair> recorded =
            KeyChain::getOrCreateKeyPair(tag + QStringLiteral("-gone"));
        QVERIFY(recorded);
        KeyChain::keyStore()->remove(tag + QStringLiteral("-gone"));
        recordAbandonedAttempt(tag, KeyChain::keyIdentity(recorded->publicKey));

        startClientOn(profile());
        const std::optional<KeyChain::KeyPair> kept = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(kept);
        QCOMPARE(KeyChain::keyIdentity(kept->publicKey), KeyChain::keyIdentity(others->publicKey));
        QCOMPARE(attemptRecords(), 0);
        QCOMPARE(ownKeysLeft(), m_ownTags.size());
    }

    // A user stored by an enrolment whose move to the signing tag never happened (the run killed while the
    // keyring moved it) keeps signing with the key it registered: the next start moves it, or else its
    // first signature does, rather than making a key the service does not know.
    void aKeyLeftUnderTheEnrolmentTagIsMoved_data() {
        QTest::addColumn<bool>("byStart");
        QTest::newRow("by the next start") << true;
        QTest::newRow("by the first signature") << false;
    }

    void aKeyLeftUnderTheEnrolmentTagIsMoved() {
        QFETCH(bool, byStart);
        for (const Enrolled& enrolled : m_enrolled)
            QCOMPARE(KeyChain::keyStore()->retag(enrolled.signingTag, enrolled.enrolmentTag),
                     KeyStore::success);
        if (byStart) {
            startClientOn(profile());
            for (const Enrolled& enrolled : m_enrolled) {
                QVERIFY(inKeyring(enrolled.signingTag));
                QVERIFY(!inKeyring(enrolled.enrolmentTag));
            }
        }
        everyEnrolledUserUnlocksAndApproves();
        for (const Enrolled& enrolled : m_enrolled) {
            QVERIFY(inKeyring(enrolled.signingTag));
            QVERIFY(!inKeyring(enrolled.enrolmentTag));
        }
    }

    // What the keyring holds under `tag` now, by identity; absent when it holds nothing there it could read.
    static std::optional<QString> identityUnder(const QString& tag) {
        const std::optional<KeyChain::KeyPair> pair =
            inKeyring(tag) ? KeyChain::getOrCreateKeyPair(tag) : std::nullopt;
        return pair ? std::optional(KeyChain::keyIdentity(pair->publicKey)) : std::nullopt;
    }

    // A user's key in a second keyring that stays locked (the unlock dismissed, or nothing to ask with) is
    // still the user's: the approval makes no key over it, sends nothing and says why. Once the keyring is
    // unlocked the user signs with the key the service knows.
    void aKeyringThatStaysLockedGetsNoNewKeyAndSaysSo() {
        const Enrolled& alice = m_enrolled.front();
        const std::optional<SecureBytes> key = KeyChain::keyStore()->find(alice.signingTag);
        QVERIFY(key);
        LockedCollection collection;
        QVERIFY2(collection.error().isEmpty(), qPrintable(collection.error()));
        QCOMPARE(KeyChain::keyStore()->remove(alice.signingTag), KeyStore::success);
        const auto restore = qScopeGuard([&] {
            collection.unlock();
            KeyChain::keyStore()->remove(alice.signingTag);
            KeyChain::keyStore()->add(alice.signingTag, *key);
        });
        QVERIFY2(collection.file(alice.signingTag, key->view().toByteArray()),
                 qPrintable(collection.error()));
        QVERIFY2(collection.lock(), qPrintable(collection.error()));

        HomeViewModel model(f->repository.get(), *f->app, f->clock);
        bool sent = true;
        unlockAndApprove(alice, model, sent);
        QVERIFY(!sent);
        QCOMPARE(model.errorMessage.get(), flows::keyringUnansweredMessage);
        QVERIFY(!f->app->isLoading.get());
        f->app->logout();
        QTRY_VERIFY(!f->app->isSignedIn());

        QVERIFY2(collection.unlock(), qPrintable(collection.error()));
        std::optional<SecureBytes> after;
        QCOMPARE(KeyChain::keyStore()->lookUp(alice.signingTag, after), KeyStore::success);
        QVERIFY(after && after->view() == key->view());
        everyEnrolledUserUnlocksAndApproves();
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
        QCOMPARE(KeyChain::keyStore()->remove(tag), KeyStore::success);
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

    // The same e-mail and PIN enrolled in a second organisation: its enrolment makes a key of its own,
    // whatever lies under the e-mail and PIN (the first user's key, when that is where the first user signs,
    // or left there by the first user's move cut short), and each user signs with the key the service has
    // for it.
    void twoEnrolmentsOfOneEMailAndPinKeepTheirOwnKeys_data() {
        QTest::addColumn<QString>("first");
        QTest::newRow("the first signing under the e-mail and PIN") << "e-mail";
        QTest::newRow("the first's key left under the e-mail and PIN") << "stranded";
    }

    void twoEnrolmentsOfOneEMailAndPinKeepTheirOwnKeys() {
        QFETCH(QString, first);
        const bool signsUnderEMail = first == "e-mail";
        const QString name = (signsUnderEMail ? QStringLiteral("frank") : QStringLiteral("grace")) + m_run;
        const QString pin = signsUnderEMail ? QStringLiteral("314159") : QStringLiteral("271828");
        enrol(name, pin, QStringLiteral("ORG1"),
              signsUnderEMail ? std::optional(name + QStringLiteral("@example.com")) : std::nullopt);
        const Enrolled firstUser = m_enrolled.back();
        if (!signsUnderEMail)
            QCOMPARE(KeyChain::keyStore()->retag(firstUser.signingTag, firstUser.enrolmentTag),
                     KeyStore::success);
        enrol(name, pin, QStringLiteral("ORG2"), QStringLiteral("Q-") + name);
        const Enrolled secondUser = m_enrolled.back();
        everyEnrolledUserUnlocksAndApproves();
        const std::optional<QString> firstKey = identityUnder(firstUser.signingTag);
        QVERIFY(firstKey && identityUnder(secondUser.signingTag));
        QVERIFY(*firstKey != *identityUnder(secondUser.signingTag));
    }

    // A user that signs under its e-mail and PIN, whose enrolment's record an earlier version left naming
    // that very key under that very tag (the run ended after storing the user): a start keeps the key.
    void aUserSigningUnderItsEMailsTagKeepsItsKeyThroughAStart() {
        const QString name = QStringLiteral("heidi") + m_run;
        enrol(name, QStringLiteral("161803"), QStringLiteral("ORG1"), name + QStringLiteral("@example.com"));
        const Enrolled& heidi = m_enrolled.back();
        QCOMPARE(heidi.signingTag, heidi.enrolmentTag);
        const std::optional<QString> key = identityUnder(heidi.signingTag);
        QVERIFY(key);
        recordAbandonedAttempt(heidi.signingTag, *key);
        startClientOn(profile());
        QCOMPARE(identityUnder(heidi.signingTag), key);
        QCOMPARE(attemptRecords(), 0);
        everyEnrolledUserUnlocksAndApproves();
    }
};

QTEST_MAIN(TestKeySweep)
#include "tst_keysweep.moc"
