#include "AppLogger.h"
#include "CoreDataManager.h"
#include "DateHelper.h"
#include "KeyChain.h"
#include "MemoryKeyStore.h"
#include "support/ConsoleCapture.h"
#include "support/DamagedStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <memory>

namespace {

AuthResponse user(const QString& zid, const QString& email, const QString& orgCode,
                  std::optional<QString> pin = QStringLiteral("PINHASH"),
                  std::optional<QString> primaryAttr = QStringLiteral("primary")) {
    AuthResponse record;
    record.zid = zid;
    record.suid = QStringLiteral("suid-") + zid;
    record.email = email;
    record.orgCode = orgCode;
    record.pin = std::move(pin);
    record.primaryAttr = std::move(primaryAttr);
    return record;
}

} // namespace

class TestCoreDataManager : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::shared_ptr<MemoryKeyStore> m_keys;
    std::unique_ptr<CoreDataManager> m_store;
    int m_counter = 0;

    QString storePath() const {
        return m_dir.filePath(QStringLiteral("store-%1/QVModel.sqlite").arg(m_counter));
    }

    int rowCount(const QString& table) {
        QSqlQuery query(m_store->persistentContainer().database());
        if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM ") + table) || !query.next())
            return -1;
        return query.value(0).toInt();
    }

    // Makes a recorded enrolment attempt one of a run that has ended: a process of an earlier boot.
    void endRunOf(qint64 attempt) {
        QSqlQuery query(m_store->persistentContainer().database());
        QVERIFY(query.prepare(QStringLiteral("UPDATE QVKeyAttempt SET owner = ? WHERE Z_PK = ?")));
        query.addBindValue(QStringLiteral("00000000-0000-0000-0000-000000000000/4242/1"));
        query.addBindValue(attempt);
        QVERIFY(query.exec());
    }

    // Records an attempt of an ended run that named `identity` as the key it made under `tag`.
    void recordAbandonedAttempt(const QString& tag, const QString& identity) {
        const std::optional<qint64> attempt = m_store->beginKeyAttempt(tag);
        QVERIFY(attempt);
        QVERIFY(m_store->nameAttemptKey(*attempt, identity));
        endRunOf(*attempt);
    }

    // Makes a real key under `tag` and returns its identity.
    QString makeKey(const QString& tag) {
        const std::optional<KeyChain::KeyPair> pair = KeyChain::getOrCreateKeyPair(tag);
        return pair ? KeyChain::keyIdentity(pair->publicKey) : QString();
    }

    std::optional<QString> identityUnder(const QString& tag) {
        const std::optional<SecureBytes> secret = m_keys->find(tag);
        if (!secret)
            return std::nullopt;
        const std::optional<KeyChain::KeyPair> pair = KeyChain::getOrCreateKeyPair(tag);
        return pair ? std::optional(KeyChain::keyIdentity(pair->publicKey)) : std::nullopt;
    }

    void sweep() {
        const QFuture<void> swept = m_store->settleDeviceKeys();
        // Its last step runs on this thread's event loop.
        QTRY_VERIFY(swept.isFinished());
    }

    // Puts a key into the memory store directly, without the cost of generating one each time: every planted
    // key is the same one.
    void plantKey(const QString& tag) {
        if (m_plantedKey.isEmpty()) {
            const QString scratch = QStringLiteral("planted key||scratch");
            QVERIFY(KeyChain::getOrCreateKeyPair(scratch));
            m_plantedKey = m_keys->find(scratch)->view().toByteArray();
            m_keys->remove(scratch, KeyStore::anyItem);
        }
        m_keys->add(tag, SecureBytes(m_plantedKey));
    }
    QByteArray m_plantedKey;

    // Whether the store's files (the store, its write-ahead log and shared memory) hold `text` anywhere.
    bool storeFilesHold(const QString& text) const {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            QFile file(storePath() + QLatin1String(suffix));
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text.toUtf8()))
                return true;
        }
        return false;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        AppLogger::configure({std::nullopt, m_dir.filePath(QStringLiteral("Logs/quorvaleapp.log"))});
    }

    void init() {
        ++m_counter;
        m_keys = std::make_shared<MemoryKeyStore>();
        KeyChain::setKeyStore(m_keys);
        ConsoleCapture quiet;
        m_store = std::make_unique<CoreDataManager>(PersistentContainer::Options{storePath()});
    }

    void cleanup() { m_store.reset(); }

    void updateOfAnUnknownZidInsertsWithTheDisplayEmail() {
        ConsoleCapture capture;
        m_store->updateAuthResponse(
            user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A")));
        QCOMPARE(capture.lines(), QStringList{QStringLiteral("Auth response saved successfully")});
        const auto users = m_store->readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(users.size(), size_t(1));
        QCOMPARE(users[0].displayEmail, std::optional(QStringLiteral("a@x.org")));
        QCOMPARE(users[0].invalidAttemptCount, std::optional<qint64>(0));
        QVERIFY(!users[0].resultCode && !users[0].alert && !users[0].orgName);
    }

    void updateClearsAbsentFieldsButKeepsTheAttemptCount() {
        ConsoleCapture capture;
        AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"));
        record.invalidAttemptCount = 2;
        record.lockedTimeStamp = QDateTime::fromMSecsSinceEpoch(1'700'000'000'123);
        m_store->saveAuthResponse(record);

        AuthResponse changed = record;
        changed.suid.reset();
        changed.invalidAttemptCount.reset();
        changed.email = QStringLiteral("b@x.org");
        m_store->updateAuthResponse(changed);
        QCOMPARE(capture.lines().last(), QStringLiteral("Auth response updated successfully"));

        auto users = m_store->readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(users.size(), size_t(1));
        QVERIFY(!users[0].suid);
        QCOMPARE(users[0].invalidAttemptCount, std::optional<qint64>(2));
        QCOMPARE(users[0].email, std::optional(QStringLiteral("b@x.org")));
        QCOMPARE(users[0].displayEmail, std::optional(QStringLiteral("a@x.org"))); // left as it was
        QCOMPARE(users[0].lockedTimeStamp->toMSecsSinceEpoch(), 1'700'000'000'123);

        changed.invalidAttemptCount = 0;
        changed.lockedTimeStamp.reset();
        m_store->updateAuthResponse(changed);
        users = m_store->readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(users[0].invalidAttemptCount, std::optional<qint64>(0));
        QVERIFY(!users[0].lockedTimeStamp);
    }

    void attemptCountsBeyond32BitsAreClamped() {
        ConsoleCapture quiet;
        AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"));
        record.invalidAttemptCount = qint64(1) << 40;
        m_store->updateAuthResponse(record);
        QCOMPARE(m_store->readAuthResponses().value_or(std::vector<AuthResponse>{})[0].invalidAttemptCount,
                 std::optional<qint64>(std::numeric_limits<qint32>::max()));
    }

    void updateWithoutZidChangesNothing() {
        ConsoleCapture capture;
        m_store->saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A")));
        AuthResponse anonymous =
            user(QStringLiteral("ignored"), QStringLiteral("b@x.org"), QStringLiteral("B"));
        anonymous.zid.reset();
        m_store->updateAuthResponse(anonymous);
        QVERIFY(capture.lines().last().startsWith(QLatin1String("Error updating auth response: ")));
        const auto users = m_store->readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(users.size(), size_t(1));
        QCOMPARE(users[0].email, std::optional(QStringLiteral("a@x.org")));
    }

    void deleteRemovesOnlyTheFirstMatchAndItsKey() {
        ConsoleCapture capture;
        AuthResponse first = user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"));
        AuthResponse second = first;
        second.suid = QStringLiteral("second");
        second.pin = QStringLiteral("OTHERPINHASH");
        m_store->saveAuthResponse(first);
        m_store->saveAuthResponse(second);
        plantKey(QStringLiteral("primary||PINHASH"));
        capture.clear();

        m_store->deleteAuthResponse(QStringLiteral("z1"));
        // The key goes off this thread, once the row has gone.
        QTRY_COMPARE(m_keys->size(), 0);
        QCOMPARE(capture.lines(), QStringList({QStringLiteral("Auth response deleted successfully"),
                                               QStringLiteral("success deleteUser")}));
        const auto users = m_store->readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(users.size(), size_t(1));
        QCOMPARE(users[0].suid, std::optional(QStringLiteral("second")));
    }

    void deleteOfAnUnknownZidTouchesNoKey() {
        ConsoleCapture capture;
        m_store->saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A")));
        plantKey(QStringLiteral("primary||PINHASH"));
        capture.clear();
        m_store->deleteAuthResponse(QStringLiteral("nobody"));
        QCOMPARE(capture.lines(), QStringList{QStringLiteral("Auth response to update not found")});
        QCOMPARE(m_keys->size(), 1);
        QCOMPARE(m_store->readAuthResponses().value_or(std::vector<AuthResponse>{}).size(), size_t(1));
    }

    void deleteOfARowWithoutPinLeavesTheKeys() {
        ConsoleCapture capture;
        m_store->saveAuthResponse(
            user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"), std::nullopt));
        plantKey(QStringLiteral("primary||PINHASH"));
        capture.clear();
        m_store->deleteAuthResponse(QStringLiteral("z1"));
        QCOMPARE(capture.lines(), QStringList{QStringLiteral("Auth response deleted successfully")});
        QCOMPARE(m_keys->size(), 1);
        QVERIFY(m_store->readAuthResponses() && m_store->readAuthResponses()->empty());
    }

    // The key goes only once its row is gone: a user the store still holds keeps the key that signs for them.
    void aDeleteTheStoreRefusesKeepsTheKeys_data() {
        QTest::addColumn<bool>("byEmailAndOrganisation");
        QTest::newRow("one user") << false;
        QTest::newRow("by e-mail and organisation") << true;
    }

    void aDeleteTheStoreRefusesKeepsTheKeys() {
        QFETCH(bool, byEmailAndOrganisation);
        m_store->saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A")));
        plantKey(QStringLiteral("primary||PINHASH"));
        plantKey(QStringLiteral("a@x.org||PINHASH"));
        QSqlDatabase db = m_store->persistentContainer().database();
        QVERIFY(QSqlQuery(db).exec(
            QStringLiteral("CREATE TEMP TRIGGER refuseDelete BEFORE DELETE ON QVUserEntity "
                           "BEGIN SELECT RAISE(ABORT, 'disk refused'); END")));
        if (byEmailAndOrganisation)
            m_store->deleteUsers(QStringLiteral("a@x.org"), QStringLiteral("A"));
        else
            QVERIFY(!m_store->deleteAuthResponse(QStringLiteral("z1")));
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("DROP TRIGGER refuseDelete")));
        QCOMPARE(m_store->readAuthResponses().value_or(std::vector<AuthResponse>{}).size(), size_t(1));
        QCOMPARE(m_keys->size(), 2);
    }

    void deleteUsersTakesBothTagsOfEveryMatch() {
        ConsoleCapture capture;
        m_store->saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"),
                                       QStringLiteral("P1"), QStringLiteral("attr1")));
        m_store->saveAuthResponse(user(QStringLiteral("z2"), QStringLiteral("a@x.org"), QStringLiteral("A"),
                                       QStringLiteral("P2"), QStringLiteral("attr2")));
        m_store->saveAuthResponse(user(QStringLiteral("z3"), QStringLiteral("a@x.org"), QStringLiteral("B"),
                                       QStringLiteral("P3"), QStringLiteral("attr3")));
        for (const char* tag : {"attr1||P1", "a@x.org||P1", "attr2||P2", "attr3||P3", "a@x.org||P3"})
            plantKey(QString::fromLatin1(tag));
        capture.clear();

        m_store->deleteUsers(QStringLiteral("a@x.org"), QStringLiteral("A"));
        QVERIFY(capture.lines().contains(
            QStringLiteral("Successfully deleted users with email: a@x.org and orgCode: A")));
        const auto users = m_store->readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(users.size(), size_t(1));
        QCOMPARE(users[0].zid, std::optional(QStringLiteral("z3")));
        QTRY_COMPARE(m_keys->size(), 2);
        QCOMPARE(m_keys->count(QStringLiteral("attr3||P3")), 1);
        QCOMPARE(m_keys->count(QStringLiteral("a@x.org||P3")), 1);
    }

    // Registering anew deletes the earlier enrolment with the same address and organisation, and a removal
    // deletes one user. The same person enrolled with the same PIN in another organisation signs with a key
    // under the same tags; it stays.
    void aKeyAnotherStoredUserOwnsStays_data() {
        QTest::addColumn<bool>("byEmailAndOrganisation");
        QTest::newRow("registering anew") << true;
        QTest::newRow("one user removed") << false;
    }

    void aKeyAnotherStoredUserOwnsStays() {
        QFETCH(bool, byEmailAndOrganisation);
        ConsoleCapture quiet;
        m_store->saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"),
                                       QStringLiteral("P1"), QStringLiteral("attr1")));
        m_store->saveAuthResponse(user(QStringLiteral("z2"), QStringLiteral("a@x.org"), QStringLiteral("B"),
                                       QStringLiteral("P1"), QStringLiteral("attr1")));
        plantKey(QStringLiteral("attr1||P1"));
        plantKey(QStringLiteral("a@x.org||P1"));
        if (byEmailAndOrganisation)
            m_store->deleteUsers(QStringLiteral("a@x.org"), QStringLiteral("A"));
        else
            QVERIFY(m_store->deleteAuthResponse(QStringLiteral("z1")));
        QCOMPARE(m_store->readAuthResponses().value_or(std::vector<AuthResponse>{}).size(), size_t(1));
        QCOMPARE(m_keys->size(), 2);
    }

    void refreshDisplayEmails_data() {
        QTest::addColumn<QStringList>("orgCodes");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("line");
        QTest::newRow("three organisations")
            << QStringList{"A", "B", "C"} << QStringList{"e@x.org (A)", "e@x.org (B)", "e@x.org (C)"}
            << "Context saved successfully!";
        QTest::newRow("one row after others left")
            << QStringList{"A"} << QStringList{"e@x.org"} << "No changes to save.";
        QTest::newRow("a later row without organisation keeps its text")
            << QStringList{"A", QString(), "C"} << QStringList{"e@x.org (A)", "e@x.org", "e@x.org (C)"}
            << "Context saved successfully!";
    }

    void refreshDisplayEmails() {
        QFETCH(QStringList, orgCodes);
        QFETCH(QStringList, expected);
        QFETCH(QString, line);
        ConsoleCapture capture;
        for (int i = 0; i < orgCodes.size(); ++i) {
            AuthResponse record = user(QStringLiteral("z%1").arg(i), QStringLiteral("e@x.org"), orgCodes[i]);
            if (orgCodes[i].isNull())
                record.orgCode.reset();
            m_store->saveAuthResponse(record);
        }
        m_store->saveAuthResponse(
            user(QStringLiteral("other"), QStringLiteral("o@x.org"), QStringLiteral("A")));
        capture.clear();
        m_store->refreshDisplayEmails(QStringLiteral("e@x.org"));
        QCOMPARE(capture.lines(), QStringList{line});
        const auto users = m_store->readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(users.size(), size_t(orgCodes.size() + 1));
        for (int i = 0; i < orgCodes.size(); ++i)
            QCOMPARE(users[size_t(i)].displayEmail, std::optional(expected[i]));
        QCOMPARE(users.back().displayEmail, std::optional(QStringLiteral("o@x.org")));
    }

    void refreshResetsASingleRowToThePlainEmail() {
        ConsoleCapture capture;
        m_store->saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("e@x.org"), QStringLiteral("A")));
        m_store->saveAuthResponse(user(QStringLiteral("z2"), QStringLiteral("e@x.org"), QStringLiteral("B")));
        m_store->refreshDisplayEmails(QStringLiteral("e@x.org"));
        QCOMPARE(m_store->readAuthResponses().value_or(std::vector<AuthResponse>{})[0].displayEmail,
                 std::optional(QStringLiteral("e@x.org (A)")));
        m_store->deleteAuthResponse(QStringLiteral("z2"));
        capture.clear();
        m_store->refreshDisplayEmails(QStringLiteral("e@x.org"));
        QCOMPARE(capture.lines(), QStringList{QStringLiteral("Context saved successfully!")});
        QCOMPARE(m_store->readAuthResponses().value_or(std::vector<AuthResponse>{})[0].displayEmail,
                 std::optional(QStringLiteral("e@x.org")));
        capture.clear();
        m_store->refreshDisplayEmails(QStringLiteral("nobody@x.org"));
        QCOMPARE(capture.lines(), QStringList{QStringLiteral("No changes to save.")});
    }

    void lastLoginKeepsOneRow() {
        ConsoleCapture capture;
        QVERIFY(!m_store->fetchLastLoginDate());
        const QDateTime first = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000);
        const QDateTime second = first.addSecs(90).addMSecs(7);
        m_store->saveLastLoginDate(first);
        m_store->saveLastLoginDate(second);
        QCOMPARE(capture.lines(), QStringList(2, QStringLiteral("LastLogin saved successfully")));
        QCOMPARE(rowCount(QStringLiteral("QVGeneral")), 1);
        QCOMPARE(m_store->fetchLastLoginDate(), std::optional(second));
    }

    void deleteAllUsersKeepsKeysAndLastLogin() {
        ConsoleCapture capture;
        m_store->saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A")));
        m_store->saveAuthResponse(user(QStringLiteral("z2"), QStringLiteral("b@x.org"), QStringLiteral("A")));
        m_store->saveLastLoginDate(QDateTime::fromMSecsSinceEpoch(1'700'000'000'000));
        plantKey(QStringLiteral("primary||PINHASH"));
        capture.clear();
        m_store->deleteAllUsers();
        QVERIFY(capture.lines().isEmpty());
        QVERIFY(m_store->readAuthResponses() && m_store->readAuthResponses()->empty());
        QVERIFY(m_store->fetchLastLoginDate());
        QCOMPARE(m_keys->size(), 1);
    }

    // The PIN's digest is an unsalted SHA-256 of six digits: whoever reads it has the PIN. Once a user is
    // removed, neither it nor the user's primary attribute may stay anywhere in the store's files.
    void aRemovedUserLeavesNothingOnDisk_data() {
        QTest::addColumn<QString>("removal");
        QTest::newRow("by zid") << "zid";
        QTest::newRow("by e-mail and organisation") << "email";
        QTest::newRow("all users") << "all";
        QTest::newRow("an enrolment attempt that ended") << "attempt";
    }

    void aRemovedUserLeavesNothingOnDisk() {
        QFETCH(QString, removal);
        ConsoleCapture quiet;
        const QString hash = KeyChain::sha256Hex(QStringLiteral("258147"));
        const QString primary = QStringLiteral("primary-7Kq2Zt");
        AuthResponse enrolled =
            user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"), hash, primary);
        m_store->saveAuthResponse(enrolled);
        // Unlocks and wrong PINs rewrite the row, each time into the write-ahead log.
        for (qint64 attempts : {1, 2, 0}) {
            enrolled.invalidAttemptCount = attempts;
            m_store->updateAuthResponse(enrolled);
        }
        const QString stays = KeyChain::sha256Hex(QStringLiteral("147258"));
        if (removal != "all" && removal != "attempt")
            m_store->saveAuthResponse(user(QStringLiteral("z2"), QStringLiteral("b@x.org"),
                                           QStringLiteral("B"), stays, QStringLiteral("primary-other")));

        if (removal == "attempt") {
            m_store->deleteAllUsers();
            const std::optional<qint64> attempt =
                m_store->beginKeyAttempt(primary + QStringLiteral("||") + hash);
            QVERIFY(attempt);
            QVERIFY(m_store->nameAttemptKey(*attempt, QString(64, u'A')));
            m_store->endKeyAttempt(*attempt);
        } else if (removal == "zid") {
            m_store->deleteAuthResponse(QStringLiteral("z1"));
        } else if (removal == "email")
            m_store->deleteUsers(QStringLiteral("a@x.org"), QStringLiteral("A"));
        else if (removal == "all")
            m_store->deleteAllUsers();

        // The record of the key the removal leaves goes once the keyring has deleted it.
        QTRY_VERIFY(!storeFilesHold(hash));
        QVERIFY(!storeFilesHold(primary));
        if (removal != "all" && removal != "attempt")
            QVERIFY(storeFilesHold(stays));
    }

    // Another connection (a backup, a second process) reading the store keeps the log from being emptied.
    // The removal neither waits for it (the busy timeout here outlasts the test's own time limit) nor
    // gives up: the digest leaves the disk once the reader is done, by a later try, or at the latest when
    // the store closes or opens.
    void aRemovedUsersDigestLeavesTheLogOnceNoReaderHoldsIt_data() {
        QTest::addColumn<QString>("after");
        QTest::newRow("a later try") << "later";
        QTest::newRow("the store closing") << "close";
        QTest::newRow("the store opening") << "open";
    }

    void aRemovedUsersDigestLeavesTheLogOnceNoReaderHoldsIt() {
        QFETCH(QString, after);
        ConsoleCapture quiet;
        const QString log = m_dir.filePath(QStringLiteral("Logs/quorvaleapp.log"));
        QVERIFY(QDir().mkpath(QFileInfo(log).absolutePath()));
        QFile(log).open(QIODevice::WriteOnly | QIODevice::Truncate);
        PersistentContainer::Options patient{storePath()};
        patient.busyTimeoutMs = 30 * 60 * 1000;
        m_store = std::make_unique<CoreDataManager>(patient);
        const QString hash = KeyChain::sha256Hex(QStringLiteral("258147"));
        m_store->saveAuthResponse(
            user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"), hash));

        {
            QSqlDatabase reader =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
            reader.setDatabaseName(storePath());
            QVERIFY(reader.open());
            QSqlQuery snapshot(reader);
            QVERIFY(snapshot.exec(QStringLiteral("BEGIN")));
            QVERIFY(snapshot.exec(QStringLiteral("SELECT count(*) FROM QVUserEntity")) && snapshot.next());
            snapshot.finish();

            QVERIFY(m_store->deleteAuthResponse(QStringLiteral("z1")));
            QVERIFY(storeFilesHold(hash));
            QFile logged(log);
            QVERIFY(logged.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(logged.readAll())
                         .count(QStringLiteral("The store's write-ahead log could not be emptied")),
                     1);
            if (after == QLatin1String("open"))
                m_store.reset();

            QVERIFY(snapshot.exec(QStringLiteral("COMMIT")));
            if (after == QLatin1String("later")) {
                QTRY_VERIFY_WITH_TIMEOUT(!storeFilesHold(hash), 20000);
            } else if (after == QLatin1String("close")) {
                m_store.reset();
                QVERIFY(!storeFilesHold(hash));
            } else {
                m_store = std::make_unique<CoreDataManager>(patient);
                QVERIFY(!storeFilesHold(hash));
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    }

    // A start deletes a key only on the store's own record that an enrolment of a run that has ended made
    // that very key, and only while no stored user may still need it. Any other key stays: one that lies
    // under the recorded tag now but differs from the recorded one (another profile's on the same keyring,
    // a later enrolment's), one nobody recorded, one of a running attempt, and every key while the users
    // cannot be read. A stored user's key left under its enrolment tag goes to the signing tag, and a record
    // whose key is still awaited there stays.
    void theStartSettlesOnlyTheKeysItsRecordsName_data() {
        QTest::addColumn<QString>("attempt");
        QTest::addColumn<QString>("keyAfter");
        QTest::addColumn<bool>("recordGoes");
        QTest::newRow("named, by a run that ended") << "ended"
                                                    << "deleted" << true;
        QTest::newRow("named, another key under its tag now") << "another"
                                                              << "kept" << true;
        QTest::newRow("no key named (an earlier version's record)") << "unnamed"
                                                                    << "kept" << true;
        QTest::newRow("named, of a run still going") << "running"
                                                     << "kept" << false;
        QTest::newRow("named, the users unreadable") << "unreadable"
                                                     << "kept" << false;
        QTest::newRow("no record") << "none"
                                   << "kept" << true;
        QTest::newRow("its stored user's key, the move cut short") << "stored"
                                                                   << "moved" << true;
        QTest::newRow("its stored user's key, the move refused") << "refused"
                                                                 << "kept" << true;
        QTest::newRow("named, a stored user of the tag signing elsewhere") << "elsewhere"
                                                                           << "kept" << true;
    }

    void theStartSettlesOnlyTheKeysItsRecordsName() {
        QFETCH(QString, attempt);
        QFETCH(QString, keyAfter);
        QFETCH(bool, recordGoes);
        ConsoleCapture quiet;
        m_store->saveAuthResponse(user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"),
                                       QStringLiteral("P1"), QStringLiteral("attr1")));
        const bool storedUsersTag = attempt == "stored" || attempt == "refused" || attempt == "elsewhere";
        const QString tag = storedUsersTag ? QStringLiteral("a@x.org||P1") : QStringLiteral("b@x.org||P2");
        const QString signing = QStringLiteral("attr1||P1");
        const QString unrecorded = QStringLiteral("c@x.org||P3");
        const QString identity = makeKey(tag);
        QVERIFY(!identity.isEmpty());
        if (attempt == "another") {
            // The recorded key is gone, and a key of someone else's lies under the same tag now.
            m_keys->remove(tag, KeyStore::anyItem);
            QVERIFY(!makeKey(tag).isEmpty());
        }
        if (!storedUsersTag || attempt == "elsewhere")
            plantKey(signing);
        plantKey(unrecorded);
        const std::optional<QString> before = identityUnder(tag);
        if (attempt != "none") {
            const std::optional<qint64> id = m_store->beginKeyAttempt(tag);
            QVERIFY(id);
            if (attempt != "unnamed")
                QVERIFY(m_store->nameAttemptKey(*id, identity));
            if (attempt != "running")
                endRunOf(*id);
        }
        QSqlDatabase db = m_store->persistentContainer().database();
        if (attempt == "unreadable")
            QVERIFY(
                QSqlQuery(db).exec(QStringLiteral("ALTER TABLE QVUserEntity RENAME TO QVUserEntityAway")));
        m_keys->setMovesRefused(attempt == "refused");
        sweep();
        m_keys->setMovesRefused(false);
        if (attempt == "unreadable")
            QVERIFY(
                QSqlQuery(db).exec(QStringLiteral("ALTER TABLE QVUserEntityAway RENAME TO QVUserEntity")));
        if (keyAfter == "deleted") {
            QCOMPARE(m_keys->count(tag), 0);
        } else if (keyAfter == "moved") {
            QCOMPARE(m_keys->count(tag), 0);
            QCOMPARE(identityUnder(signing), std::optional(identity));
        } else {
            QCOMPARE(identityUnder(tag), before);
        }
        QCOMPARE(m_keys->count(signing), attempt == "refused" ? 0 : 1);
        QCOMPARE(m_keys->count(unrecorded), 1);
        QCOMPARE(rowCount(QStringLiteral("QVKeyAttempt")), recordGoes ? 0 : 1);
    }

    // Every stored user whose key still lies under its enrolment tag, whether or not it has a display
    // e-mail, signs with it again after a start: it is moved to the signing tag. A key already under the
    // signing tag is left where it is, and so is the one under the enrolment tag beside it.
    void theStartMovesEveryStrandedKeyToItsSigningTag() {
        ConsoleCapture capture;
        AuthResponse shown = user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"),
                                  QStringLiteral("P1"), QStringLiteral("attr1"));
        m_store->saveAuthResponse(shown);
        m_store->saveAuthResponse(user(QStringLiteral("z2"), QStringLiteral("b@x.org"), QStringLiteral("B"),
                                       QStringLiteral("P2"), QStringLiteral("attr2")));
        const QString stranded = makeKey(QStringLiteral("a@x.org||P1"));
        const QString signing = makeKey(QStringLiteral("attr2||P2"));
        plantKey(QStringLiteral("b@x.org||P2"));
        QVERIFY(m_store->readAuthResponses().value_or(std::vector<AuthResponse>{}).front().displayEmail);
        sweep();
        QCOMPARE(identityUnder(QStringLiteral("attr1||P1")), std::optional(stranded));
        QCOMPARE(m_keys->count(QStringLiteral("a@x.org||P1")), 0);
        QCOMPARE(identityUnder(QStringLiteral("attr2||P2")), std::optional(signing));
        QCOMPARE(m_keys->count(QStringLiteral("b@x.org||P2")), 1);
        QCOMPARE(capture.lines().filter(QStringLiteral("change key")),
                 QStringList{QStringLiteral("change key success")});
    }

    // A walk over the users that stops on a damaged page has not read the store: what depends on who is
    // enrolled must not act on the rows before the damage. The last user lies beyond it; its final tag is
    // the first user's as well (the same person and PIN in another organisation), its enrolment tag its own.
    void aReadCutShortByADamagedPageIsAFailedRead_data() {
        QTest::addColumn<QString>("operation");
        QTest::newRow("users shown") << "fetch";
        QTest::newRow("where a signature may find a key") << "key";
        QTest::newRow("the start-up's sweep") << "sweep";
    }

    void aReadCutShortByADamagedPageIsAFailedRead() {
        QFETCH(QString, operation);
        ConsoleCapture capture;
        const int count = 240;
        const auto emailOf = [](int i) { return QStringLiteral("user%1@organisation.example.org").arg(i); };
        for (int i = 0; i < count; ++i) {
            const bool sharing = i == 0 || i == count - 1;
            m_store->saveAuthResponse(
                user(QStringLiteral("zid-%1").arg(i), emailOf(i), QStringLiteral("ORG%1").arg(i),
                     sharing ? QStringLiteral("PINHASH-SHARED") : QStringLiteral("PIN%1").arg(i),
                     sharing ? QStringLiteral("shared") : QStringLiteral("attribute-%1").arg(i)));
        }
        const QString shared = QStringLiteral("shared||PINHASH-SHARED");
        const QString lastOnly = emailOf(count - 1) + QStringLiteral("||PINHASH-SHARED");
        plantKey(shared);
        const QString lastOnlyIdentity = makeKey(lastOnly);
        recordAbandonedAttempt(lastOnly, lastOnlyIdentity);
        m_store.reset();
        QVERIFY(damageMiddlePageOf(storePath(), QStringLiteral("QVUserEntity")));
        m_store = std::make_unique<CoreDataManager>(PersistentContainer::Options{storePath()});
        capture.clear();

        if (operation == "fetch") {
            QVERIFY(!m_store->readAuthResponses());
            QCOMPARE(capture.lines().filter(QStringLiteral("Error fetching auth responses: ")).size(), 1);
        } else if (operation == "key") {
            AuthResponse first = user(QStringLiteral("zid-0"), emailOf(0), QStringLiteral("ORG0"),
                                      QStringLiteral("PINHASH-SHARED"), QStringLiteral("shared"));
            QVERIFY(!m_store->unnamedKeyPlaces(first));
        } else {
            sweep();
        }
        QCOMPARE(m_keys->count(shared), 1);
        QCOMPARE(m_keys->count(lastOnly), 1);
    }

    // A removal decides which keys go by the users that remain, read within its own write. A walk over
    // them that stops on an error has not read them all: the removal fails as a whole, and every key stays.
    // SQLite itself refuses to commit a write that met a damaged page, so here the walk fails at its last
    // row another way: the users are read through a view that cannot compute that row.
    void aWalkOverTheRemainingUsersCutShortKeepsTheirKeys_data() {
        QTest::addColumn<QString>("operation");
        QTest::newRow("one user removed") << "zid";
        QTest::newRow("registering anew") << "email";
    }

    void aWalkOverTheRemainingUsersCutShortKeepsTheirKeys() {
        QFETCH(QString, operation);
        ConsoleCapture capture;
        // The first and the last user: the same person and PIN in two organisations, one final tag.
        const QString shared = QStringLiteral("shared||PINHASH-SHARED");
        for (int i = 0; i < 3; ++i) {
            const bool sharing = i != 1;
            m_store->saveAuthResponse(
                user(QStringLiteral("zid-%1").arg(i), QStringLiteral("user%1@x.org").arg(i),
                     QStringLiteral("ORG%1").arg(i),
                     sharing ? QStringLiteral("PINHASH-SHARED") : QStringLiteral("PIN1"),
                     sharing ? QStringLiteral("shared") : QStringLiteral("attribute-1")));
        }
        plantKey(shared);
        QSqlDatabase db = m_store->persistentContainer().database();
        for (const char* statement :
             {"ALTER TABLE QVUserEntity RENAME TO QVUserRows",
              "CREATE VIEW QVUserEntity AS SELECT * FROM QVUserRows "
              "WHERE abs(CASE WHEN zid = 'zid-2' THEN -9223372036854775808 ELSE 0 END) >= 0",
              "CREATE TRIGGER deleteThrough INSTEAD OF DELETE ON QVUserEntity "
              "BEGIN DELETE FROM QVUserRows WHERE Z_PK = old.Z_PK; END"}) {
            QSqlQuery query(db);
            QVERIFY2(query.exec(QString::fromLatin1(statement)), qPrintable(query.lastError().text()));
        }
        capture.clear();

        if (operation == "zid") {
            QVERIFY(!m_store->deleteAuthResponse(QStringLiteral("zid-0")));
        } else {
            m_store->deleteUsers(QStringLiteral("user0@x.org"), QStringLiteral("ORG0"));
            QVERIFY(capture.lines().last().startsWith(QLatin1String("Failed to delete users with email: ")));
        }
        QCOMPARE(m_keys->count(shared), 1);
        QCOMPARE(rowCount(QStringLiteral("QVUserRows")), 3);
    }

    // What the store keeps outlasts the run: a user's PIN digest and wrong-attempt count come back from a
    // reopened store, which writes through its log.
    void aReopenedStoreKeepsItsUsersInWalMode() {
        ConsoleCapture quiet;
        AuthResponse record = user(QStringLiteral("z1"), QStringLiteral("a@x.org"), QStringLiteral("A"));
        record.invalidAttemptCount = 2;
        m_store->saveAuthResponse(record);
        m_store.reset();
        m_store = std::make_unique<CoreDataManager>(PersistentContainer::Options{storePath()});
        const auto users = m_store->readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(users.size(), size_t(1));
        QCOMPARE(users[0].pin, record.pin);
        QCOMPARE(users[0].invalidAttemptCount, std::optional<qint64>(2));
        QSqlQuery mode(m_store->persistentContainer().database());
        QVERIFY(mode.exec(QStringLiteral("PRAGMA journal_mode")) && mode.next());
        QCOMPARE(mode.value(0).toString(), QStringLiteral("wal"));
    }

    void aStoreOfTheEarlierVersionKeepsItsUsersAndKeys() {
        ConsoleCapture quiet;
        m_store.reset();
        const QString earlierModel = m_dir.filePath(QStringLiteral("earlier-model-%1").arg(m_counter));
        QVERIFY(QDir().mkpath(earlierModel));
        QVERIFY(QFile::copy(QStringLiteral(":/QVModel/1.sql"), earlierModel + QStringLiteral("/1.sql")));
        const QString path = earlierModel + QStringLiteral("-store/QVModel.sqlite");
        PersistentContainer::Options earlier{path};
        earlier.modelResource = earlierModel;
        {
            CoreDataManager written(earlier);
            QCOMPARE(written.persistentContainer().schemaVersion(), 1);
            // As that version wrote its users: this one's writes name columns it did not have.
            QVERIFY(
                QSqlQuery(written.persistentContainer().database())
                    .exec(QStringLiteral("INSERT INTO QVUserEntity (zid, email, displayEmail, orgCode, pin, "
                                         "primaryAttr) VALUES ('z1', 'a@x.org', 'a@x.org', 'A', 'P1', "
                                         "'attr1')")));
        }
        plantKey(QStringLiteral("attr1||P1"));
        plantKey(QStringLiteral("b@x.org||P2"));
        m_store = std::make_unique<CoreDataManager>(PersistentContainer::Options{path});
        QCOMPARE(m_store->persistentContainer().schemaVersion(), 5);
        QCOMPARE(m_store->readAuthResponses().value_or(std::vector<AuthResponse>{}).size(), size_t(1));
        QCOMPARE(rowCount(QStringLiteral("QVKeyAttempt")), 0);
        sweep();
        QCOMPARE(m_keys->size(), 2);
    }

    void minutesComponent_data() {
        QTest::addColumn<qint64>("milliseconds");
        QTest::addColumn<int>("minutes");
        QTest::newRow("3725 s") << qint64(3'725'000) << 2;
        QTest::newRow("-130 s") << qint64(-130'000) << -2;
        QTest::newRow("59.999 s") << qint64(59'999) << 0;
        QTest::newRow("3599 s") << qint64(3'599'000) << 59;
        QTest::newRow("one hour") << qint64(3'600'000) << 0;
        QTest::newRow("-3725 s") << qint64(-3'725'000) << -2;
        QTest::newRow("-59.9 s truncates to zero") << qint64(-59'900) << 0;
    }

    void minutesComponent() {
        QFETCH(qint64, milliseconds);
        QFETCH(int, minutes);
        const QDateTime from = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000);
        QCOMPARE(DateHelper::minutesComponent(from, from.addMSecs(milliseconds)), minutes);
    }
};

QTEST_GUILESS_MAIN(TestCoreDataManager)
#include "tst_coredatamanager.moc"
