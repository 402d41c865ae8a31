#pragma once

#include "PersistentContainer.h"
#include "api/AuthResponse.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

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
    // True when no row of that zid is left (none was there, or it is deleted now). Its key goes with it
    // unless another stored user owns the same tag.
    bool deleteAuthResponse(const QString& zid);
    // Deletes the matching users and their keys; a key that a remaining user owns as well stays.
    void deleteUsers(const QString& email, const QString& orgCode);
    // Deletes the device key under `tag` unless a stored user owns it; keeps it when the store cannot be
    // read. True when no key of an unstored user is left under the tag.
    bool deleteKeyNobodyOwns(const QString& tag);
    void refreshDisplayEmails(const QString& email);

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
    // Where else than under its signing tag `user`'s key may lie, left by an enrolment whose move to that
    // tag never happened: the tags of the attempts recorded for its zid, and the tag of its e-mail and PIN
    // that earlier versions made the key under, unless a stored user signs with the key there. Absent when
    // the store could not be read.
    std::optional<QStringList> strandedKeyTags(const AuthResponse& user);
    // The start's work on the device keys, on a worker thread. A stored user whose key still lies where its
    // enrolment made it (a move cut short) gets it moved to its signing tag: the key an attempt of an ended
    // process named and recorded for that user's zid, or one an earlier version left under the user's e-mail
    // and PIN. The key every other attempt of an ended process named is deleted when it still lies under the
    // attempt's tag, unless that tag is one a stored user signs with, or one whose key a stored user may
    // still need. A key that differs from the named one stays, and so does every key nobody named. A record
    // goes once its key is deleted, moved or not there. Keys of running attempts are never touched, and
    // nothing is deleted or moved when the users cannot be read.
    QFuture<void> settleDeviceKeys();
    // Finished once the work above is (at once when none runs): an attempt waits for it, since that work
    // may delete or move a key under the tag the attempt is about to use.
    QFuture<void> deviceKeysSettled() const { return m_deviceKeysSettled; }

    const PersistentContainer& persistentContainer() const { return m_persistentContainer; }

private:
    // The tags under which the stored users' device keys lie: each one's final tag and, until its key has
    // been moved there, its enrolment tag. Absent when the store could not be read.
    std::optional<QSet<QString>> ownedKeyTags();
    void removeKeyAttempts(const QList<qint64>& attempts);
    // Empties the write-ahead log, which still holds the earlier versions of deleted rows, PIN digests and
    // all. It never waits for another connection's readers: while one holds the log, it says so in the
    // log and tries again every few seconds, and in any case when the store opens and when it closes.
    void forgetDeletedRows();
    void retryForgettingDeletedRows();

    const PersistentContainer m_persistentContainer;
    std::unique_ptr<QTimer> m_checkpointRetry;
    // Where the start's last step on the keys runs: on this thread, and not at all once the store is gone.
    std::unique_ptr<QObject> m_sweepContext;
    QFuture<void> m_deviceKeysSettled = QtFuture::makeReadyFuture();
};
