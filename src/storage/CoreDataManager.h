#pragma once

#include "KeyChain.h"
#include "PersistentContainer.h"
#include "api/AuthResponse.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

#include <memory>
#include <optional>
#include <vector>

class QTimer;

// The local store of the users enrolled on this device and of the last unlock time. Every write is saved
// at once, in one transaction; every operation prints one line about its outcome and never throws.
// Used from the main thread only.
class CoreDataManager {
public:
    // Where `shared()` keeps its store; takes effect only before the first use of `shared()`.
    static bool configure(PersistentContainer::Options options);
    // The first call opens the store for the run. A store whose users cannot be read is refused like one
    // that cannot be loaded: a run on it would take it for a store without users. When that throws, there is
    // no shared instance yet and the next call tries again.
    static CoreDataManager& shared();

    // Opens (and creates or migrates) the store; throws PersistentStoreError when the store cannot be
    // loaded (the one failure that throws).
    explicit CoreDataManager(PersistentContainer::Options options = {});
    ~CoreDataManager();

    void deleteAllUsers();
    void saveLastLoginDate(const QDateTime& date);
    std::optional<QDateTime> fetchLastLoginDate();
    void saveAuthResponse(const AuthResponse& authResponse);
    // The stored users in store order; absent (after a printed line) when the store could not be read: an
    // empty list then does not mean that nobody is enrolled.
    std::optional<std::vector<AuthResponse>> readAuthResponses();
    // True when the record is in the store now.
    bool updateAuthResponse(const AuthResponse& authResponse);
    // True when no row of that zid is left (none was there, or it is deleted now). Its key goes with it: the
    // key its record names, or for an earlier version's user the one key under its signing tag unless a user
    // that stays may sign under that tag. The store records each such key with the deletion, and a
    // deletion the keyring refuses is tried again at the next start.
    bool deleteAuthResponse(const QString& zid);
    // Deletes the matching users and their keys, as deleteAuthResponse does.
    void deleteUsers(const QString& email, const QString& orgCode);
    void refreshDisplayEmails(const QString& email);
    // Names the key of the user with that zid, when its record names none yet.
    bool nameUserKey(const QString& zid, const KeyChain::KnownKey& key);

    // An enrolment records the key it makes (see KeyAttempt), so that a later start can tell the key of an
    // attempt that never ended from every other key in the keyring, which it must leave alone.
    // Records an attempt of this process under `tag`; absent when the store did not take the record.
    std::optional<qint64> beginKeyAttempt(const QString& tag);
    // Names the key the attempt is about to file, by its identity; false when the store did not take it,
    // and then the key must not be filed.
    bool nameAttemptKey(qint64 attempt, const QString& keyIdentity);
    // Names the user, by zid, whom the attempt's key is registered for, before that user is stored; false
    // when the store did not take it, and then the user must not be stored.
    bool nameAttemptUser(qint64 attempt, const QString& zid);
    // The attempt is over and its key settled: under a stored user's signing tag now, deleted, or never
    // made.
    void endKeyAttempt(qint64 attempt);
    // Where the key of a user stored by an earlier version may lie, for a signature: its own tags and the
    // keys its enrolment's records name, and the tags of every other user, from which it takes nothing.
    // When the store's record of `user` names a key by now, `user` gets that name and the places do not
    // matter. Absent when the store could not be read.
    std::optional<KeyChain::UnnamedPlaces> unnamedKeyPlaces(AuthResponse& user);
    // The start's work on the device keys, on a worker thread. A user stored by an earlier version whose
    // enrolment's record (of a run that ended) names its key gets that key named in its record, wherever it
    // lies; one whose key was left under its enrolment tag gets it moved to its signing tag. The key every
    // other attempt of an ended run named is deleted, unless a stored user's key may lie under its tag, and
    // so is every key a removal left to delete. A key that differs from the named one stays, and so does
    // every key nobody named. A record goes once its key is named, deleted or surely not there. Keys of
    // running attempts are never touched, and nothing is deleted or moved when the users cannot be read.
    QFuture<void> settleDeviceKeys();
    // Finished once the work above is (at once when none runs): a signature for a user that names no key
    // waits for it, since that work may name or move its key.
    QFuture<void> deviceKeysSettled() const { return m_deviceKeysSettled; }

    const PersistentContainer& persistentContainer() const { return m_persistentContainer; }

private:
    void removeKeyAttempts(const QList<qint64>& attempts);
    // Deletes the keys that removed users left, off this thread, and their records once they are gone.
    void deleteLeftKeys(const QList<KeyChain::Deletion>& deletions);
    void removeDeletionRecords(const QList<KeyChain::Deletion>& deletions);
    template <typename Result>
    QFuture<void> whenDone(QFuture<Result> job, std::function<void(const Result&)> handle);
    // Empties the write-ahead log, which still holds the earlier versions of deleted rows, PIN digests and
    // all. It never waits for another connection's readers: while one holds the log, it says so in the
    // log and tries again every few seconds, and in any case when the store opens and when it closes.
    void forgetDeletedRows();
    // Deletes the rows `statement` picks with each of `rows`, in one transaction.
    void removeRecords(const QString& statement, const QList<QVariantList>& rows, QStringView failureLine);
    void retryForgettingDeletedRows();

    const PersistentContainer m_persistentContainer;
    std::unique_ptr<QTimer> m_checkpointRetry;
    // Where the start's last step on the keys runs: on this thread, and not at all once the store is gone.
    std::unique_ptr<QObject> m_sweepContext;
    QFuture<void> m_deviceKeysSettled = QtFuture::makeReadyFuture();
    // The jobs on the keyring that report back here, so that none outlives the store.
    struct KeyJob {
        QFuture<void> job;
        QFuture<void> handled;
        std::shared_ptr<std::function<void()>> finish;
    };
    std::vector<KeyJob> m_keyJobs;
};
