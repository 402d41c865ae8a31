#include "CoreDataManager.h"

#include "AppLogger.h"
#include "Console.h"
#include "KeyChain.h"
#include "ProcessIdentity.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
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
};

const QString userColumns = QStringLiteral(
    "Z_PK, zid, suid, email, displayEmail, orgCode, pin, primaryAttr, invalidAttemptCount, lockedTimeStamp");

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
    return row;
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
            "INSERT INTO QVUserEntity (zid, suid, email, pin, primaryAttr, orgCode, "
            "lockedTimeStamp, invalidAttemptCount, displayEmail) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {textValue(record.zid), textValue(record.suid), textValue(record.email), textValue(record.pin),
         textValue(record.primaryAttr), textValue(record.orgCode), dateValue(record.lockedTimeStamp),
         QVariant(clampedCount(record.invalidAttemptCount.value_or(0))), textValue(record.email)},
        error);
}

// The tags of the keys the stored users sign with: each one's final tag and, until its key has been moved
// there, its enrolment tag.
bool selectOwnedTags(const PersistentContainer& store, QSet<QString>& tags, QString& error) {
    std::vector<UserRow> rows;
    if (!selectUsers(store, {}, {}, rows, error))
        return false;
    for (const UserRow& row : rows) {
        if (!row.pin)
            continue;
        if (row.primaryAttr)
            tags.insert(KeyChain::keyTag(*row.primaryAttr, *row.pin));
        if (row.email)
            tags.insert(KeyChain::keyTag(*row.email, *row.pin));
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
    for (UserRow& row : rows) {
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
        records.push_back(std::move(record));
    }
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
            QString sql = QStringLiteral("UPDATE QVUserEntity SET zid = ?, suid = ?, email = ?, pin = ?, "
                                         "orgCode = ?, primaryAttr = ?, lockedTimeStamp = ?");
            QVariantList values{textValue(authResponse.zid),
                                textValue(authResponse.suid),
                                textValue(authResponse.email),
                                textValue(authResponse.pin),
                                textValue(authResponse.orgCode),
                                textValue(authResponse.primaryAttr),
                                dateValue(authResponse.lockedTimeStamp)};
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

std::optional<QSet<QString>> CoreDataManager::ownedKeyTags() {
    QSet<QString> tags;
    QString error;
    if (!selectOwnedTags(m_persistentContainer, tags, error)) {
        console::print(QStringLiteral("Error fetching auth responses: ") + error);
        return std::nullopt;
    }
    return tags;
}

bool CoreDataManager::deleteAuthResponse(const QString& zid) {
    std::optional<UserRow> deleted;
    // The same person enrolled with the same PIN in another organisation signs with a key under the same
    // tag: it stays for that user.
    QSet<QString> stillOwned;
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
                   selectOwnedTags(m_persistentContainer, stillOwned, failure);
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
    if (deleted->primaryAttr && deleted->pin) {
        if (const QString tag = KeyChain::keyTag(*deleted->primaryAttr, *deleted->pin);
            !stillOwned.contains(tag))
            KeyChain::deleteKey(tag);
    }
    console::print(u"Auth response deleted successfully");
    return true;
}

void CoreDataManager::deleteUsers(const QString& email, const QString& orgCode) {
    std::vector<UserRow> matches;
    // The same address with the same PIN in another organisation has the same enrolment tag, and the same
    // person may have the same final tag there: such a key still signs for the user that stays.
    QSet<QString> stillOwned;
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
            return selectOwnedTags(m_persistentContainer, stillOwned, failure);
        },
        error);
    if (!ok) {
        console::print(QStringLiteral("Failed to delete users with email: ") + email +
                       QStringLiteral(" and orgCode: ") + orgCode + QStringLiteral(", error: ") + error);
        return;
    }
    if (!matches.empty())
        forgetDeletedRows();
    for (const UserRow& row : matches) {
        if (row.primaryAttr && row.pin) {
            for (const QString& tag :
                 {KeyChain::keyTag(*row.primaryAttr, *row.pin), KeyChain::keyTag(email, *row.pin)}) {
                if (!stillOwned.contains(tag))
                    KeyChain::deleteKey(tag);
            }
        }
    }
    console::print(QStringLiteral("Successfully deleted users with email: ") + email +
                   QStringLiteral(" and orgCode: ") + orgCode);
}

bool CoreDataManager::deleteKeyNobodyOwns(const QString& tag) {
    const std::optional<QSet<QString>> owned = ownedKeyTags();
    if (!owned)
        return false;
    return owned->contains(tag) || KeyChain::deleteKey(tag);
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

std::optional<QStringList> CoreDataManager::strandedKeyTags(const AuthResponse& user) {
    QStringList tags;
    QString error;
    if (user.zid &&
        !m_persistentContainer.execute(
            QStringLiteral(
                "SELECT tag FROM QVKeyAttempt WHERE zid = ? AND keyIdentity IS NOT NULL ORDER BY Z_PK"),
            {*user.zid}, error, [&tags](const QSqlQuery& row) { tags.append(row.value(0).toString()); })) {
        console::print(QStringLiteral("Error reading the enrolments' key records: ") + error);
        return std::nullopt;
    }
    const std::optional<QString> enrolment = KeyChain::enrolmentTag(user);
    if (!enrolment || enrolment == KeyChain::signingTag(user))
        return tags;
    // Under a stored user's signing tag lies the key that user signs with, whoever enrolled first. The PIN
    // hash ends both tags, so the tags are the same exactly when both parts are.
    bool signedWith = false;
    if (!m_persistentContainer.execute(
            QStringLiteral("SELECT 1 FROM QVUserEntity WHERE primaryAttr = ? AND pin = ? LIMIT 1"),
            {*user.email, *user.pin}, error, [&signedWith](const QSqlQuery&) { signedWith = true; })) {
        console::print(QStringLiteral("Error fetching auth responses: ") + error);
        return std::nullopt;
    }
    if (!signedWith)
        tags.append(*enrolment);
    return tags;
}

void CoreDataManager::endKeyAttempt(qint64 attempt) {
    removeKeyAttempts({attempt});
}

void CoreDataManager::removeKeyAttempts(const QList<qint64>& attempts) {
    if (attempts.isEmpty())
        return;
    QString error;
    const bool ok = m_persistentContainer.write(
        [&](QString& failure) {
            for (const qint64 attempt : attempts) {
                if (!m_persistentContainer.execute(QStringLiteral("DELETE FROM QVKeyAttempt WHERE Z_PK = ?"),
                                                   {attempt}, failure))
                    return false;
            }
            return true;
        },
        error);
    if (!ok) {
        console::print(QStringLiteral("Error removing the enrolment's key record: ") + error);
        return;
    }
    // The record's tag holds the PIN's digest.
    forgetDeletedRows();
}

QFuture<void> CoreDataManager::settleDeviceKeys() {
    const std::optional<std::vector<AuthResponse>> users = readAuthResponses();
    if (!users)
        return m_deviceKeysSettled;
    // Under a stored user's signing tag lies the key that user signs with: nothing here takes or deletes it.
    QSet<QString> signingTags;
    QHash<QString, QString> signingTagOfZid;
    for (const AuthResponse& user : *users) {
        if (const std::optional<QString> tag = KeyChain::signingTag(user)) {
            signingTags.insert(*tag);
            if (user.zid)
                signingTagOfZid.insert(*user.zid, *tag);
        }
    }
    // Keys that earlier versions made under the e-mail and PIN, for users whose move never happened. Each
    // move has the record it settles, if any.
    QList<KeyChain::KeyMove> moves;
    QList<std::optional<qint64>> recordOfMove;
    for (const AuthResponse& user : *users) {
        const std::optional<QString> enrolment = KeyChain::enrolmentTag(user);
        const std::optional<QString> signing = KeyChain::signingTag(user);
        if (enrolment && signing && !signingTags.contains(*enrolment)) {
            moves.append({*enrolment, *signing, std::nullopt});
            recordOfMove.append(std::nullopt);
        }
    }

    std::vector<AttemptRecord> abandoned;
    QString error;
    if (!m_persistentContainer.execute(
            QStringLiteral("SELECT Z_PK, tag, owner, keyIdentity, zid FROM QVKeyAttempt ORDER BY Z_PK"), {},
            error, [&abandoned](const QSqlQuery& row) {
                abandoned.push_back({row.value(0).toLongLong(), row.value(1).toString(),
                                     row.value(2).toString(), row.value(3).toString(),
                                     row.value(4).toString()});
            })) {
        console::print(QStringLiteral("Error reading the enrolments' key records: ") + error);
        abandoned.clear();
    }
    std::erase_if(abandoned,
                  [](const AttemptRecord& attempt) { return processidentity::isRunning(attempt.owner); });

    // A record goes only once its key is settled: one the keyring did not delete or move, or one a stored
    // user may still need, is looked at again at the next start.
    QList<qint64> settled;
    QList<qint64> recordOfDeletion;
    QList<KeyChain::KnownKey> known;
    for (const AttemptRecord& attempt : abandoned) {
        const auto user = signingTagOfZid.constFind(attempt.zid);
        if (attempt.keyIdentity.isEmpty()) {
            // It made no key it could tell from another.
            settled.append(attempt.pk);
        } else if (!attempt.zid.isEmpty() && user != signingTagOfZid.constEnd()) {
            moves.append({attempt.tag, *user, attempt.keyIdentity});
            recordOfMove.append(attempt.pk);
        } else if (signingTags.contains(attempt.tag)) {
            // An earlier version's enrolment whose user signs with the key it made under that very tag.
            settled.append(attempt.pk);
        } else {
            known.append({attempt.tag, attempt.keyIdentity});
            recordOfDeletion.append(attempt.pk);
        }
    }
    removeKeyAttempts(settled);
    if (moves.isEmpty() && known.isEmpty())
        return m_deviceKeysSettled;
    m_deviceKeysSettled =
        KeyChain::settleKeysAsync(moves, known)
            .then(m_sweepContext.get(),
                  [this, recordOfMove, recordOfDeletion](const KeyChain::Settlement& done) {
                      QList<qint64> ended;
                      for (qsizetype i = 0; i < recordOfMove.size() && i < done.moved.size(); ++i) {
                          if (done.moved[i] && recordOfMove[i])
                              ended.append(*recordOfMove[i]);
                      }
                      for (qsizetype i = 0; i < recordOfDeletion.size() && i < done.gone.size(); ++i) {
                          if (done.gone[i])
                              ended.append(recordOfDeletion[i]);
                      }
                      removeKeyAttempts(ended);
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
