#pragma once

#include "PersistentContainer.h"
#include "api/AuthResponse.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

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
    // The first call opens the store. When that throws, there is no shared instance yet and the next call
    // tries again.
    static CoreDataManager& shared();

    // Opens (and creates or migrates) the store; throws PersistentStoreError when the store cannot be
    // loaded (the one failure that throws).
    explicit CoreDataManager(PersistentContainer::Options options = {});
    ~CoreDataManager();

    void deleteAllUsers();
    void saveLastLoginDate(const QDateTime& date);
    std::optional<QDateTime> fetchLastLoginDate();
    void saveAuthResponse(const AuthResponse& authResponse);
    std::vector<AuthResponse> fetchAuthResponses();
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

    // An enrolment records the key it is about to make, so that a later start can tell the keys of
    // attempts that never ended from every other key in the keyring, which it must leave alone.
    // Records an attempt of this process under `tag`; absent when the store did not take the record.
    std::optional<qint64> beginKeyAttempt(const QString& tag);
    // The attempt has made the key under its tag (it did not find one there).
    void markKeyMade(qint64 attempt);
    // The attempt is over and its key settled: the key of a stored user now, deleted, or never its own.
    void endKeyAttempt(qint64 attempt);
    // Deletes the keys that attempts of ended processes made and that no stored user owns, and their
    // records. Keys of attempts still running and keys nobody recorded are never touched; nothing is
    // deleted when the store cannot be read. The keyring work runs on a worker thread.
    QFuture<void> deleteAbandonedKeys();
    // Finished once the sweep above is (at once when none runs): an attempt waits for it, since the
    // sweep may delete a key under the tag the attempt is about to use.
    QFuture<void> abandonedKeysSwept() const { return m_abandonedKeysSwept; }

    const PersistentContainer& persistentContainer() const { return m_persistentContainer; }

private:
    // fetchAuthResponses(), but absent (after the same printed line) when the store could not be read: an
    // empty list then does not mean that nobody is enrolled.
    std::optional<std::vector<AuthResponse>> readAuthResponses();
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
    // Where the sweep's last step runs: on this thread, and not at all once the store is gone.
    std::unique_ptr<QObject> m_sweepContext;
    QFuture<void> m_abandonedKeysSwept = QtFuture::makeReadyFuture();
};
