#pragma once

#include "PersistentContainer.h"
#include "api/AuthResponse.h"

#include <QDateTime>
#include <QFuture>
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
    // True when no row of that zid is left (none was there, or it is deleted now) and its key is gone.
    bool deleteAuthResponse(const QString& zid);
    // Deletes the matching users and their keys; a key that a remaining user owns as well stays.
    void deleteUsers(const QString& email, const QString& orgCode);
    // Deletes the device key under `tag` unless a stored user owns it; keeps it when the store cannot be
    // read.
    void deleteKeyNobodyOwns(const QString& tag);
    // Deletes this client's device keys that belong to no stored user: no record names them, so none can
    // ever sign. Nothing is deleted when the store cannot be read. The keyring work runs on a worker thread;
    // the future ends with it, true when keys were looked through.
    QFuture<bool> deleteOrphanedKeys();
    void refreshDisplayEmails(const QString& email);

    const PersistentContainer& persistentContainer() const { return m_persistentContainer; }

private:
    // fetchAuthResponses(), but absent (after the same printed line) when the store could not be read: an
    // empty list then does not mean that nobody is enrolled.
    std::optional<std::vector<AuthResponse>> readAuthResponses();
    // The tags under which the stored users' device keys lie: each one's final tag and, until its key has
    // been moved there, its enrolment tag. Absent when the store could not be read.
    std::optional<QSet<QString>> ownedKeyTags();
    // Empties the write-ahead log, which still holds the earlier versions of deleted rows, PIN digests and
    // all. It never waits for another connection's readers: while one holds the log, it says so in the
    // log and tries again every few seconds, and in any case when the store opens and when it closes.
    void forgetDeletedRows();
    void retryForgettingDeletedRows();

    const PersistentContainer m_persistentContainer;
    std::unique_ptr<QTimer> m_checkpointRetry;
};
