#include "CoreDataManager.h"

#include "AppLogger.h"
#include "Console.h"
#include "KeyChain.h"
#include "ProcessIdentity.h"

#include <QFutureWatcher>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QPromise>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

#include <limits>

namespace {

QMutex& optionsMutex() {
    static QMutex mutex;
    return mutex;
}

struct PendingOptions {
    PersistentContainer::Options options;
    bool used = false;
};

PendingOptions& pendingOptions() {
    static PendingOptions pending;
    return pending;
}

struct UserRow {
    qint64 pk = 0;
    std::optional<QString> zid, suid, email, displayEmail, orgCode, pin, primaryAttr;
    qint64 invalidAttemptCount = 0;
    std::optional<QDateTime> lockedTimeStamp;
    std::optional<QString> keyTag, keyIdentity;
};

const QString userColumns =
    QStringLiteral("Z_PK, zid, suid, email, displayEmail, orgCode, pin, primaryAttr, invalidAttemptCount, "
                   "lockedTimeStamp, keyTag, keyIdentity");

std::optional<QString> text(const QVariant& value) {
    if (value.isNull())
        return std::nullopt;
    return value.toString();
}

QVariant textValue(const std::optional<QString>& value) {
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<QString>());
}

QVariant dateValue(const std::optional<QDateTime>& value) {
    if (!value || !value->isValid())
        return QVariant(QMetaType::fromType<qint64>());
    return QVariant(value->toMSecsSinceEpoch());
}

std::optional<QDateTime> date(const QVariant& value) {
    if (value.isNull())
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(value.toLongLong());
}

// The store's column is 32 bits wide; a larger count still means "too many attempts".
qint64 clampedCount(qint64 count) {
    return std::clamp<qint64>(count, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
}

UserRow readRow(const QSqlQuery& query) {
    UserRow row;
    row.pk = query.value(0).toLongLong();
    row.zid = text(query.value(1));
    row.suid = text(query.value(2));
    row.email = text(query.value(3));
    row.displayEmail = text(query.value(4));
    row.orgCode = text(query.value(5));
    row.pin = text(query.value(6));
    row.primaryAttr = text(query.value(7));
    row.invalidAttemptCount = query.value(8).toLongLong();
    row.lockedTimeStamp = date(query.value(9));
    row.keyTag = text(query.value(10));
    row.keyIdentity = text(query.value(11));
    return row;
}

AuthResponse recordOf(UserRow row) {
    AuthResponse record;
    record.zid = std::move(row.zid);
    record.suid = std::move(row.suid);
    record.orgCode = std::move(row.orgCode);
    record.email = std::move(row.email);
    record.pin = std::move(row.pin);
    record.primaryAttr = std::move(row.primaryAttr);
    record.displayEmail = std::move(row.displayEmail);
    record.invalidAttemptCount = row.invalidAttemptCount;
    record.lockedTimeStamp = std::move(row.lockedTimeStamp);
    record.keyTag = std::move(row.keyTag);
    record.keyIdentity = std::move(row.keyIdentity);
    return record;
}

// Runs a SELECT over QVUserEntity; rows in store order.
bool selectUsers(const PersistentContainer& store, const QString& where, const QVariantList& values,
                 std::vector<UserRow>& rows, QString& error) {
    QString sql = QStringLiteral("SELECT ") + userColumns + QStringLiteral(" FROM QVUserEntity");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    sql += QStringLiteral(" ORDER BY Z_PK");
    return store.execute(sql, values, error, [&rows](const QSqlQuery& row) { rows.push_back(readRow(row)); });
}

bool insertUser(const PersistentContainer& store, const AuthResponse& record, QString& error) {
    return store.execute(
        QStringLiteral(
            "INSERT INTO QVUserEntity (zid, suid, email, pin, primaryAttr, orgCode, lockedTimeStamp, "
            "invalidAttemptCount, displayEmail, keyTag, keyIdentity) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
            "?)"),
        {textValue(record.zid), textValue(record.suid), textValue(record.email), textValue(record.pin),
         textValue(record.primaryAttr), textValue(record.orgCode), dateValue(record.lockedTimeStamp),
         QVariant(clampedCount(record.invalidAttemptCount.value_or(0))), textValue(record.email),
         textValue(record.keyTag), textValue(record.keyIdentity)},
        error);
}

// Who may sign with a key under a tag. A user's signing tag (or named key's tag) outranks another user's
// enrolment tag that is the same text: that is where the first user's key lies when nothing went wrong,
// and only a failed move ever left a key under an enrolment tag.
struct TagOwners {
    QSet<QString> signedUnder;
    QSet<QString> owned;

    template <typename Records> static TagOwners of(const Records& records) {
        TagOwners owners;
        for (const AuthResponse& record : records) {
            if (const std::optional<QString> tag = KeyChain::tagSignedUnder(record))
                owners.signedUnder.insert(*tag);
            for (const QString& tag : KeyChain::tagsOwnedBy(record))
                owners.owned.insert(tag);
        }
        return owners;
    }
    // Whether a key that `user` may sign with under `tag` may be theirs instead.
    bool mayClaim(const AuthResponse& user, const QString& tag) const {
        return tag == KeyChain::tagSignedUnder(user) ? signedUnder.contains(tag) : owned.contains(tag);
    }
};

std::vector<AuthResponse> recordsOf(const std::vector<UserRow>& rows) {
    std::vector<AuthResponse> records;
    records.reserve(rows.size());
    for (const UserRow& row : rows)
        records.push_back(recordOf(row));
    return records;
}

// What deleting a user's row leaves to the keyring: the key its record names, or the key an earlier
// version's user signed with (and, with `enrolmentTag`, one left where its enrolment made it), unless one of
// the users that stay may sign with a key under that tag.
QList<KeyChain::Deletion> keysLeftBy(const UserRow& row, const TagOwners& staying, bool enrolmentTag) {
    const AuthResponse record = recordOf(row);
    if (const std::optional<KeyChain::KnownKey> named = KeyChain::namedKey(record))
        return {*named};
    QList<KeyChain::Deletion> left;
    for (const std::optional<QString>& tag :
         {KeyChain::signingTag(record), enrolmentTag ? KeyChain::enrolmentTag(record) : std::nullopt}) {
        if (tag && !staying.mayClaim(record, *tag) && !left.contains(KeyChain::Deletion{*tag, QString()}))
            left.append({*tag, QString()});
    }
    return left;
}

// Records the keys that deleted rows leave, in the transaction that deletes them: a deletion the keyring
// refuses is then tried again at the next start rather than forgotten.
bool recordDeletions(const PersistentContainer& store, const std::vector<UserRow>& deleted,
                     bool enrolmentTags, QList<KeyChain::Deletion>& deletions, QString& error) {
    std::vector<UserRow> remaining;
    if (!selectUsers(store, {}, {}, remaining, error))
        return false;
    const TagOwners staying = TagOwners::of(recordsOf(remaining));
    for (const UserRow& row : deleted) {
        for (const KeyChain::Deletion& left : keysLeftBy(row, staying, enrolmentTags)) {
            if (!store.execute(QStringLiteral("INSERT INTO QVKeyDeletion (tag, keyIdentity) VALUES (?, ?)"),
                               {left.tag, left.identity.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                                                  : QVariant(left.identity)},
                               error))
                return false;
            deletions.append(left);
        }
    }
    return true;
}

struct AttemptRecord {
    qint64 pk = 0;
    QString tag;
    QString owner;
    QString keyIdentity;
    QString zid;
};

constexpr auto checkpointRetryInterval = std::chrono::seconds(2);

} // namespace

bool CoreDataManager::configure(PersistentContainer::Options options) {
    QMutexLocker lock(&optionsMutex());
    if (pendingOptions().used)
        return false;
    pendingOptions().options = std::move(options);
    return true;
}

CoreDataManager& CoreDataManager::shared() {
    static CoreDataManager instance([] {
        QMutexLocker lock(&optionsMutex());
        pendingOptions().used = true;
        PersistentContainer::Options options = pendingOptions().options;
        options.refuseBeforeWriting = [](const QSqlDatabase& db) -> std::optional<QString> {
            QSqlQuery walk(db);
            walk.setForwardOnly(true);
            if (walk.exec(QStringLiteral("SELECT ") + userColumns + QStringLiteral(" FROM QVUserEntity"))) {
                while (walk.next()) {
                }
            }
            const QSqlError error = walk.lastError();
            if (!error.isValid())
                return std::nullopt;
            // SQLite's own words name the damage; the driver's addition only says that a row was not read.
            return QStringLiteral("the enrolled users cannot be read: ") +
                   (error.databaseText().isEmpty() ? error.text() : error.databaseText());
        };
        return options;
    }());
    return instance;
}

CoreDataManager::CoreDataManager(PersistentContainer::Options options)
    : m_persistentContainer(std::move(options))
    , m_sweepContext(std::make_unique<QObject>()) {
    // A run that ended while a reader held the log left the digests of the users it removed in it.
    forgetDeletedRows();
}

// The shared store closes as the process ends, when the log may be gone already: this last try is silent.
CoreDataManager::~CoreDataManager() {
    // A job on the keyring still under way reports back to this store: it ends first, and what it would
    // have recorded is left for the next start.
    for (KeyJob& job : m_keyJobs) {
        job.job.waitForFinished();
        (*job.finish)();
    }
    m_sweepContext.reset();
    m_checkpointRetry.reset();
    QString ignored;
    m_persistentContainer.checkpoint(ignored);
}

void CoreDataManager::forgetDeletedRows() {
    QString error;
    if (m_persistentContainer.checkpoint(error)) {
        if (m_checkpointRetry)
            m_checkpointRetry->stop();
        return;
    }
    if (m_checkpointRetry && m_checkpointRetry->isActive())
        return;
    AppLogger::shared().log(QStringLiteral("The store's write-ahead log could not be emptied: ") + error +
                                QStringLiteral("; trying again later"),
                            AppLogger::LogType::error);
    if (!m_checkpointRetry) {
        m_checkpointRetry = std::make_unique<QTimer>();
        m_checkpointRetry->setInterval(checkpointRetryInterval);
        QObject::connect(m_checkpointRetry.get(), &QTimer::timeout, m_checkpointRetry.get(),
                         [this] { retryForgettingDeletedRows(); });
    }
    m_checkpointRetry->start();
}

void CoreDataManager::retryForgettingDeletedRows() {
    QString ignored;
    if (m_persistentContainer.checkpoint(ignored))
        m_checkpointRetry->stop();
}

void CoreDataManager::deleteAllUsers() {
    QString error;
    const bool ok = m_persistentContainer.write(
        [this](QString& failure) {
            return m_persistentContainer.execute(QStringLiteral("DELETE FROM QVUserEntity"), {}, failure);
        },
        error);
    if (!ok) {
        console::print(QStringLiteral("Error deleting data: ") + error);
        return;
    }
    forgetDeletedRows();
}

void CoreDataManager::saveLastLoginDate(const QDateTime& date) {
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            std::optional<qint64> pk;
            if (!m_persistentContainer.execute(
                    QStringLiteral("SELECT Z_PK FROM QVGeneral ORDER BY Z_PK LIMIT 1"), {}, failure,
                    [&pk](const QSqlQuery& row) { pk = row.value(0).toLongLong(); }))
                return false;
            if (pk)
                return m_persistentContainer.execute(
                    QStringLiteral("UPDATE QVGeneral SET lastLoginTimeStamp = ? WHERE Z_PK = ?"),
                    {dateValue(date), *pk}, failure);
            return m_persistentContainer.execute(
                QStringLiteral("INSERT INTO QVGeneral (lastLoginTimeStamp) VALUES (?)"), {dateValue(date)},
                failure);
        },
        error);
    console::print(ok ? QStringLiteral("LastLogin saved successfully")
                      : QStringLiteral("Error saving auth response: ") + error);
}

std::optional<QDateTime> CoreDataManager::fetchLastLoginDate() {
    std::optional<QDateTime> lastLogin;
    QString error;
    if (!m_persistentContainer.execute(
            QStringLiteral("SELECT lastLoginTimeStamp FROM QVGeneral ORDER BY Z_PK LIMIT 1"), {}, error,
            [&lastLogin](const QSqlQuery& row) { lastLogin = date(row.value(0)); })) {
        console::print(QStringLiteral("Error fetching last login date responses: ") + error);
        return std::nullopt;
    }
    return lastLogin;
}

void CoreDataManager::saveAuthResponse(const AuthResponse& authResponse) {
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) { return insertUser(m_persistentContainer, authResponse, failure); }, error);
    console::print(ok ? QStringLiteral("Auth response saved successfully")
                      : QStringLiteral("Error saving auth response: ") + error);
}

std::optional<std::vector<AuthResponse>> CoreDataManager::readAuthResponses() {
    std::vector<UserRow> rows;
    QString error;
    if (!selectUsers(m_persistentContainer, {}, {}, rows, error)) {
        console::print(QStringLiteral("Error fetching auth responses: ") + error);
        return std::nullopt;
    }
    std::vector<AuthResponse> records;
    records.reserve(rows.size());
    for (UserRow& row : rows)
        records.push_back(recordOf(std::move(row)));
    return records;
}

bool CoreDataManager::updateAuthResponse(const AuthResponse& authResponse) {
    // Without a zid there is no row to match, and inserting would leave a user nobody can address.
    if (!authResponse.zid) {
        console::print(QStringLiteral("Error updating auth response: the record has no zid"));
        return false;
    }
    bool inserted = false;
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            std::vector<UserRow> matches;
            if (!selectUsers(m_persistentContainer, QStringLiteral("zid = ?"), {*authResponse.zid}, matches,
                             failure))
                return false;
            if (matches.empty()) {
                inserted = true;
                return insertUser(m_persistentContainer, authResponse, failure);
            }
            QString sql =
                QStringLiteral("UPDATE QVUserEntity SET zid = ?, suid = ?, email = ?, pin = ?, "
                               "orgCode = ?, primaryAttr = ?, lockedTimeStamp = ?, "
                               // A record names its key once, and that name never changes.
                               "keyTag = CASE WHEN keyTag IS NULL THEN ? ELSE keyTag END, "
                               "keyIdentity = CASE WHEN keyTag IS NULL THEN ? ELSE keyIdentity END");
            QVariantList values{textValue(authResponse.zid),
                                textValue(authResponse.suid),
                                textValue(authResponse.email),
                                textValue(authResponse.pin),
                                textValue(authResponse.orgCode),
                                textValue(authResponse.primaryAttr),
                                dateValue(authResponse.lockedTimeStamp),
                                textValue(authResponse.keyTag),
                                textValue(authResponse.keyIdentity)};
            if (authResponse.invalidAttemptCount) {
                sql += QStringLiteral(", invalidAttemptCount = ?");
                values << QVariant(clampedCount(*authResponse.invalidAttemptCount));
            }
            sql += QStringLiteral(" WHERE Z_PK = ?");
            values << matches.front().pk;
            return m_persistentContainer.execute(sql, values, failure);
        },
        error);
    if (inserted) {
        console::print(ok ? QStringLiteral("Auth response saved successfully")
                          : QStringLiteral("Error saving auth response: ") + error);
        return ok;
    }
    console::print(ok ? QStringLiteral("Auth response updated successfully")
                      : QStringLiteral("Error updating auth response: ") + error);
    return ok;
}

bool CoreDataManager::deleteAuthResponse(const QString& zid) {
    std::optional<UserRow> deleted;
    QList<KeyChain::Deletion> deletions;
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            std::vector<UserRow> matches;
            if (!selectUsers(m_persistentContainer, QStringLiteral("zid = ?"), {zid}, matches, failure))
                return false;
            if (matches.empty())
                return true;
            deleted = matches.front();
            return m_persistentContainer.execute(QStringLiteral("DELETE FROM QVUserEntity WHERE Z_PK = ?"),
                                                 {deleted->pk}, failure) &&
                   recordDeletions(m_persistentContainer, {*deleted}, false, deletions, failure);
        },
        error);
    if (ok && !deleted) {
        console::print(u"Auth response to update not found");
        return true;
    }
    if (!ok) {
        console::print(QStringLiteral("Error deleting auth response: ") + error);
        return false;
    }
    forgetDeletedRows();
    // The key goes only once the row is gone for good: a failed save must not leave a user without a key.
    deleteLeftKeys(deletions);
    console::print(u"Auth response deleted successfully");
    return true;
}

void CoreDataManager::deleteUsers(const QString& email, const QString& orgCode) {
    std::vector<UserRow> matches;
    QList<KeyChain::Deletion> deletions;
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            if (!selectUsers(m_persistentContainer, QStringLiteral("email = ? AND orgCode = ?"),
                             {email, orgCode}, matches, failure))
                return false;
            for (const UserRow& row : matches) {
                if (!m_persistentContainer.execute(QStringLiteral("DELETE FROM QVUserEntity WHERE Z_PK = ?"),
                                                   {row.pk}, failure))
                    return false;
            }
            return recordDeletions(m_persistentContainer, matches, true, deletions, failure);
        },
        error);
    if (!ok) {
        console::print(QStringLiteral("Failed to delete users with email: ") + email +
                       QStringLiteral(" and orgCode: ") + orgCode + QStringLiteral(", error: ") + error);
        return;
    }
    if (!matches.empty())
        forgetDeletedRows();
    deleteLeftKeys(deletions);
    console::print(QStringLiteral("Successfully deleted users with email: ") + email +
                   QStringLiteral(" and orgCode: ") + orgCode);
}

void CoreDataManager::deleteLeftKeys(const QList<KeyChain::Deletion>& deletions) {
    if (deletions.isEmpty())
        return;
    whenDone<QList<bool>>(KeyChain::deleteKeysAsync(deletions), [this, deletions](const QList<bool>& gone) {
        QList<KeyChain::Deletion> done;
        for (qsizetype i = 0; i < deletions.size() && i < gone.size(); ++i) {
            if (gone[i])
                done.append(deletions[i]);
            else
                AppLogger::shared().log(
                    QStringLiteral("A removed user's device key could not be deleted from the keyring yet; "
                                   "the next start deletes it"),
                    AppLogger::LogType::error);
        }
        removeDeletionRecords(done);
    });
}

// The result goes to `handle` through a watcher rather than a continuation: a continuation asserts when its
// context goes the moment the job ends. What the watcher has not delivered when the store closes, the
// store's destructor hands over itself.
template <typename Result>
QFuture<void> CoreDataManager::whenDone(QFuture<Result> job, std::function<void(const Result&)> handle) {
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    QFuture<void> done = promise->future();
    auto finish = std::make_shared<std::function<void()>>([job, handle, promise]() mutable {
        if (promise->future().isFinished())
            return;
        handle(job.result());
        promise->finish();
    });
    auto* watcher = new QFutureWatcher<Result>(m_sweepContext.get());
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher, [watcher, finish] {
        (*finish)();
        watcher->deleteLater();
    });
    watcher->setFuture(job);
    std::erase_if(m_keyJobs, [](const KeyJob& kept) { return kept.handled.isFinished(); });
    m_keyJobs.push_back({QFuture<void>(job), done, finish});
    return done;
}

void CoreDataManager::removeDeletionRecords(const QList<KeyChain::Deletion>& deletions) {
    QList<QVariantList> rows;
    for (const KeyChain::Deletion& deletion : deletions)
        rows.append(QVariantList{deletion.tag, deletion.identity});
    removeRecords(QStringLiteral("DELETE FROM QVKeyDeletion WHERE tag = ? AND "
                                 "COALESCE(keyIdentity, '') = COALESCE(?, '')"),
                  rows, u"Error removing the removed users' key records: ");
}

void CoreDataManager::removeRecords(const QString& statement, const QList<QVariantList>& rows,
                                    QStringView failureLine) {
    if (rows.isEmpty())
        return;
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            for (const QVariantList& row : rows) {
                if (!m_persistentContainer.execute(statement, row, failure))
                    return false;
            }
            return true;
        },
        error);
    if (!ok) {
        console::print(failureLine.toString() + error);
        return;
    }
    // The record's tag holds the PIN's digest.
    forgetDeletedRows();
}

std::optional<qint64> CoreDataManager::beginKeyAttempt(const QString& tag) {
    std::optional<qint64> attempt;
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            if (!m_persistentContainer.execute(
                    QStringLiteral("INSERT INTO QVKeyAttempt (tag, owner) VALUES (?, ?)"),
                    {tag, processidentity::current()}, failure))
                return false;
            return m_persistentContainer.execute(
                QStringLiteral("SELECT last_insert_rowid()"), {}, failure,
                [&attempt](const QSqlQuery& row) { attempt = row.value(0).toLongLong(); });
        },
        error);
    if (!ok || !attempt) {
        console::print(QStringLiteral("Error recording the enrolment's key: ") + error);
        return std::nullopt;
    }
    return attempt;
}

bool CoreDataManager::nameAttemptKey(qint64 attempt, const QString& keyIdentity) {
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            return m_persistentContainer.execute(
                QStringLiteral("UPDATE QVKeyAttempt SET keyIdentity = ? WHERE Z_PK = ?"),
                {keyIdentity, attempt}, failure);
        },
        error);
    if (!ok)
        console::print(QStringLiteral("Error recording the enrolment's key: ") + error);
    return ok;
}

bool CoreDataManager::nameAttemptUser(qint64 attempt, const QString& zid) {
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            return m_persistentContainer.execute(
                QStringLiteral("UPDATE QVKeyAttempt SET zid = ? WHERE Z_PK = ?"), {zid, attempt}, failure);
        },
        error);
    if (!ok)
        console::print(QStringLiteral("Error recording the enrolment's key: ") + error);
    return ok;
}

std::optional<KeyChain::UnnamedPlaces> CoreDataManager::unnamedKeyPlaces(AuthResponse& user) {
    std::vector<UserRow> rows;
    QString error;
    if (!selectUsers(m_persistentContainer, {}, {}, rows, error)) {
        console::print(QStringLiteral("Error fetching auth responses: ") + error);
        return std::nullopt;
    }
    KeyChain::UnnamedPlaces places;
    std::vector<AuthResponse> others;
    for (UserRow& row : rows) {
        AuthResponse stored = recordOf(std::move(row));
        if (user.zid && stored.zid == user.zid) {
            // Named since the record in hand was read (at start, from an enrolment's record).
            if (KeyChain::namedKey(stored)) {
                user.keyTag = stored.keyTag;
                user.keyIdentity = stored.keyIdentity;
            }
            continue;
        }
        others.push_back(std::move(stored));
    }
    const TagOwners owners = TagOwners::of(others);
    for (const QString& tag : KeyChain::tagsOwnedBy(user)) {
        if (owners.mayClaim(user, tag))
            places.takenElsewhere.insert(tag);
    }
    // A removed user's key that the keyring has not deleted yet is no one else's.
    if (!m_persistentContainer.execute(
            QStringLiteral("SELECT tag FROM QVKeyDeletion WHERE keyIdentity IS NULL"), {}, error,
            [&places](const QSqlQuery& row) { places.takenElsewhere.insert(row.value(0).toString()); })) {
        console::print(QStringLiteral("Error reading the removed users' key records: ") + error);
        return std::nullopt;
    }
    if (user.zid &&
        !m_persistentContainer.execute(
            QStringLiteral(
                "SELECT tag, keyIdentity FROM QVKeyAttempt WHERE zid = ? AND keyIdentity IS NOT NULL "
                "ORDER BY Z_PK"),
            {*user.zid}, error, [&places](const QSqlQuery& row) {
                places.recorded.append({row.value(0).toString(), row.value(1).toString()});
            })) {
        console::print(QStringLiteral("Error reading the enrolments' key records: ") + error);
        return std::nullopt;
    }
    // Its own tags, minus any another user may own: a key there may be that user's.
    for (const std::optional<QString>& tag : {KeyChain::signingTag(user), KeyChain::enrolmentTag(user)}) {
        if (tag && !places.tags.contains(*tag))
            places.tags.append(*tag);
    }
    return places;
}

bool CoreDataManager::nameUserKey(const QString& zid, const KeyChain::KnownKey& key) {
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            return m_persistentContainer.execute(
                QStringLiteral(
                    "UPDATE QVUserEntity SET keyTag = ?, keyIdentity = ? WHERE zid = ? AND keyTag IS NULL"),
                {key.tag, key.identity, zid}, failure);
        },
        error);
    if (!ok)
        console::print(QStringLiteral("Error updating auth response: ") + error);
    return ok;
}

void CoreDataManager::endKeyAttempt(qint64 attempt) {
    removeKeyAttempts({attempt});
}

void CoreDataManager::removeKeyAttempts(const QList<qint64>& attempts) {
    QList<QVariantList> rows;
    for (const qint64 attempt : attempts)
        rows.append(QVariantList{attempt});
    removeRecords(QStringLiteral("DELETE FROM QVKeyAttempt WHERE Z_PK = ?"), rows,
                  u"Error removing the enrolment's key record: ");
}

QFuture<void> CoreDataManager::settleDeviceKeys() {
    std::vector<UserRow> users;
    QString error;
    if (!selectUsers(m_persistentContainer, {}, {}, users, error)) {
        console::print(QStringLiteral("Error fetching auth responses: ") + error);
        return m_deviceKeysSettled;
    }
    QHash<QString, AuthResponse> userOfZid;
    QList<AuthResponse> records;
    for (const UserRow& row : users) {
        records.append(recordOf(row));
        if (row.zid && !userOfZid.contains(*row.zid))
            userOfZid.insert(*row.zid, records.back());
    }
    const TagOwners owners = TagOwners::of(records);

    std::vector<AttemptRecord> attempts;
    if (!m_persistentContainer.execute(
            QStringLiteral("SELECT Z_PK, tag, owner, keyIdentity, zid FROM QVKeyAttempt ORDER BY Z_PK"), {},
            error, [&attempts](const QSqlQuery& row) {
                attempts.push_back({row.value(0).toLongLong(), row.value(1).toString(),
                                    row.value(2).toString(), row.value(3).toString(),
                                    row.value(4).toString()});
            })) {
        console::print(QStringLiteral("Error reading the enrolments' key records: ") + error);
        attempts.clear();
    }
    std::erase_if(attempts,
                  [](const AttemptRecord& attempt) { return processidentity::isRunning(attempt.owner); });

    // A record goes only once its key is settled: one the keyring could not be asked about stays for the
    // next start.
    QList<qint64> settled;
    QList<KeyChain::Adoption> adoptions;
    QList<std::pair<qint64, QString>> recordOfAdoption;
    QList<KeyChain::Deletion> deletions;
    QList<std::optional<qint64>> attemptOfDeletion;
    QSet<QString> adopting;
    for (const AttemptRecord& attempt : attempts) {
        const KeyChain::KnownKey made{attempt.tag, attempt.keyIdentity};
        const auto user = userOfZid.constFind(attempt.zid);
        if (attempt.keyIdentity.isEmpty()) {
            // It made no key it could tell from another.
            settled.append(attempt.pk);
        } else if (!attempt.zid.isEmpty() && user != userOfZid.constEnd() && !KeyChain::namedKey(*user)) {
            // Stored by an earlier version, which moved the key to the signing tag after storing the user:
            // the record gets the key wherever it lies now.
            adoptions.append({made, KeyChain::signingTag(*user)});
            recordOfAdoption.append({attempt.pk, attempt.zid});
            adopting.insert(attempt.zid);
        } else if (owners.owned.contains(attempt.tag)) {
            // A stored user's key may lie under that very tag: its own named key, or an earlier version's
            // enrolment whose user signs with the key it made there.
            settled.append(attempt.pk);
        } else {
            deletions.append(made);
            attemptOfDeletion.append(attempt.pk);
        }
    }
    // Keys of removed users whose deletion is still to be done.
    QList<KeyChain::Deletion> stale;
    if (!m_persistentContainer.execute(
            QStringLiteral("SELECT tag, COALESCE(keyIdentity, '') FROM QVKeyDeletion ORDER BY Z_PK"), {},
            error, [&](const QSqlQuery& row) {
                const KeyChain::Deletion left{row.value(0).toString(), row.value(1).toString()};
                // An earlier version's user enrolled again since may sign under that tag.
                if (left.identity.isEmpty() && owners.signedUnder.contains(left.tag))
                    stale.append(left);
                else if (!deletions.contains(left)) {
                    deletions.append(left);
                    attemptOfDeletion.append(std::nullopt);
                }
            })) {
        console::print(QStringLiteral("Error reading the removed users' key records: ") + error);
    }
    // Earlier versions' users whose key was left where their enrolment made it.
    QList<KeyChain::Move> strandedMoves;
    for (const AuthResponse& user : records) {
        if (KeyChain::namedKey(user) || (user.zid && adopting.contains(*user.zid)))
            continue;
        const std::optional<QString> from = KeyChain::enrolmentTag(user);
        const std::optional<QString> to = KeyChain::signingTag(user);
        if (!from || !to || from == to)
            continue;
        // A removed user's key still waiting for its deletion is no one's to move.
        const bool removedKey =
            std::any_of(deletions.begin(), deletions.end(),
                        [&](const KeyChain::Deletion& left) { return left.tag == *from; });
        const bool takenElsewhere =
            std::any_of(records.begin(), records.end(), [&](const AuthResponse& other) {
                const QStringList tags = KeyChain::tagsOwnedBy(other);
                return other.zid != user.zid && (tags.contains(*from) || tags.contains(*to));
            });
        if (!removedKey && !takenElsewhere)
            strandedMoves.append({*from, *to});
    }
    removeKeyAttempts(settled);
    removeDeletionRecords(stale);
    if (adoptions.isEmpty() && deletions.isEmpty() && strandedMoves.isEmpty())
        return m_deviceKeysSettled;
    m_deviceKeysSettled = whenDone<KeyChain::Settlement>(
        KeyChain::settleKeysAsync(adoptions, deletions, strandedMoves),
        [this, recordOfAdoption, deletions, attemptOfDeletion](const KeyChain::Settlement& done) {
            QList<qint64> ended;
            for (qsizetype i = 0; i < recordOfAdoption.size() && i < done.adopted.size(); ++i) {
                const auto& [record, zid] = recordOfAdoption[i];
                if (done.adopted[i] ? nameUserKey(zid, *done.adopted[i]) : done.answered[i])
                    ended.append(record);
            }
            QList<KeyChain::Deletion> deleted;
            for (qsizetype i = 0; i < deletions.size() && i < done.gone.size(); ++i) {
                if (!done.gone[i])
                    continue;
                if (attemptOfDeletion[i])
                    ended.append(*attemptOfDeletion[i]);
                else
                    deleted.append(deletions[i]);
            }
            removeKeyAttempts(ended);
            removeDeletionRecords(deleted);
        });
    return m_deviceKeysSettled;
}

void CoreDataManager::refreshDisplayEmails(const QString& email) {
    bool changed = false;
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            std::vector<UserRow> rows;
            if (!selectUsers(m_persistentContainer, QStringLiteral("email = ?"), {email}, rows, failure))
                return false;
            std::vector<std::optional<QString>> wanted;
            for (const UserRow& row : rows)
                wanted.push_back(row.displayEmail);
            const auto qualified = [](const UserRow& row) -> std::optional<QString> {
                if (!row.email || !row.orgCode)
                    return std::nullopt;
                return *row.email + QStringLiteral(" (") + *row.orgCode + u')';
            };
            if (rows.size() == 1) {
                wanted[0] = rows[0].email;
            } else {
                for (size_t i = 1; i < rows.size(); ++i) {
                    if (const auto display = qualified(rows[i]))
                        wanted[i] = display;
                    if (const auto first = qualified(rows[0]))
                        wanted[0] = first;
                }
            }
            for (size_t i = 0; i < rows.size(); ++i) {
                if (wanted[i] == rows[i].displayEmail)
                    continue;
                changed = true;
                if (!m_persistentContainer.execute(
                        QStringLiteral("UPDATE QVUserEntity SET displayEmail = ? WHERE Z_PK = ?"),
                        {textValue(wanted[i]), rows[i].pk}, failure))
                    return false;
            }
            return true;
        },
        error);
    if (!ok)
        console::print(QStringLiteral("Error fetching auth responses: ") + error);
    else if (!changed)
        console::print(u"No changes to save.");
    else
        console::print(u"Context saved successfully!");
}
