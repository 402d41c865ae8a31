#pragma once

#include "PersistentContainer.h"
#include "api/AuthResponse.h"

#include <QDateTime>
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
    static CoreDataManager& shared();

    // Opens (and creates or migrates) the store; a store that cannot be opened stops the program.
    explicit CoreDataManager(PersistentContainer::Options options = {});
    ~CoreDataManager();

    void deleteAllUsers();
    void saveLastLoginDate(const QDateTime& date);
    std::optional<QDateTime> fetchLastLoginDate();
    void saveAuthResponse(const AuthResponse& authResponse);
    std::vector<AuthResponse> fetchAuthResponses();
    void updateAuthResponse(const AuthResponse& authResponse);
    // True when no row of that zid is left (none was there, or it is deleted now) and its key is gone.
    bool deleteAuthResponse(const QString& zid);
    void deleteUsers(const QString& email, const QString& orgCode);
    void refreshDisplayEmails(const QString& email);

    const PersistentContainer& persistentContainer() const { return m_persistentContainer; }

private:
    // Empties the write-ahead log, which still holds the earlier versions of deleted rows, PIN digests and
    // all. It never waits for another connection's readers: while one holds the log, it says so in the
    // log and tries again every few seconds, and in any case when the store opens and when it closes.
    void forgetDeletedRows();
    void retryForgettingDeletedRows();

    const PersistentContainer m_persistentContainer;
    std::unique_ptr<QTimer> m_checkpointRetry;
};
