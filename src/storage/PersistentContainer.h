#pragma once

#include "PersistentStoreError.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <optional>
#include <vector>

// The SQLite store behind CoreDataManager: one file in write-ahead-log mode, created from the embedded
// schema scripts (":/QVModel/<version>.sql", applied in order) and migrated by its schema version. Deleted
// content is overwritten (secure delete).
// Several processes may share the file; SQLite's locking and a busy timeout keep them apart.
class PersistentContainer {
public:
    struct Options {
        // Default: QVModel.sqlite under the application's data directory.
        QString storePath;
        QString modelResource = QStringLiteral(":/QVModel");
        int busyTimeoutMs = 5000;
        // Looks at a store that has a schema already, before anything is written to it, on a connection that
        // holds the store alone and must only read; a reason it returns refuses the store as one that cannot
        // be loaded, and its files stay as they were.
        std::function<std::optional<QString>(const QSqlDatabase&)> refuseBeforeWriting = nullptr;
    };

    // Stops the program when the schema scripts are missing or broken (a fault of the build); throws
    // PersistentStoreError when the store itself cannot be loaded, leaving its file as it was.
    explicit PersistentContainer(Options options);
    ~PersistentContainer();
    PersistentContainer(const PersistentContainer&) = delete;
    PersistentContainer& operator=(const PersistentContainer&) = delete;

    QSqlDatabase database() const;
    QString storePath() const { return m_options.storePath; }
    int schemaVersion() const { return m_schemaVersion; }

    // Runs `body` inside one write transaction; commits when it returns true and rolls back otherwise.
    // On failure `error` holds the reason.
    bool write(const std::function<bool(QString& error)>& body, QString& error) const;

    // Runs `sql` with `values` bound in order and hands each result row to `eachRow`; false when the
    // statement or the walk over its rows ended in an error, whatever rows were handed out before it. Each
    // statement is prepared once per connection and reused: preparing costs more than a small write itself.
    bool execute(const QString& sql, const QVariantList& values, QString& error,
                 const std::function<void(const QSqlQuery& row)>& eachRow = {}) const;

    // Copies the write-ahead log into the store and empties it, so that the earlier versions of rows it
    // holds are gone from the disk. Never waits for other connections: false (and `error`) when one kept it
    // from completing.
    bool checkpoint(QString& error) const;

    static QString defaultStorePath();

private:
    // The schema version a store holds; absent, with the reason, when it could not be read.
    struct VersionRead {
        std::optional<int> version;
        QSqlError error;
    };
    static VersionRead readVersion(const QSqlDatabase& db);
    // Opens the store, makes it use the write-ahead log and brings its schema up to date; throws
    // PersistentStoreError (after the stop's line on standard error) when it cannot.
    void load(const std::vector<QStringList>& scripts);
    // Only reads, on a connection of its own that leaves every file of the store as it was: a file that is
    // no database, a newer program's store or one that refuseBeforeWriting turns down is refused before
    // anything writes to it (even the switch to the write-ahead log rewrites the file's header). A store
    // that another client has open is not looked at here (false), and the same checks then run on the
    // store's own connection.
    bool checkBeforeWriting(size_t programVersion) const;
    // Refuses, as checkBeforeWriting describes, on what `read` found; false when the store was busy and
    // nothing could be looked at.
    bool refuseUnusable(const QSqlDatabase& db, const VersionRead& read, size_t programVersion) const;
    void closeConnection();

    Options m_options;
    QString m_connectionName;
    int m_schemaVersion = 0;
    // Keyed by their SQL; they belong to the connection and go before it closes.
    mutable QHash<QString, QSqlQuery> m_statements;
};
