#include "PersistentContainer.h"
#include "PersistentStoreError.h"
#include "platform/PrivateFiles.h"

#include <QAtomicInt>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <map>

#include <sqlite3.h>

namespace {

void printFatal(const char* message) {
    std::fprintf(stderr, "DatabaseManager: Fatal error: %s\n", message);
    std::fflush(stderr);
}

// A fault of the build itself: no user can do anything about it.
[[noreturn]] void stop(const QString& message) {
    printFatal(message.toUtf8().constData());
    std::abort();
}

// The store's file is what is wrong; the user may be able to put it right, so the program ends plainly.
[[noreturn]] void failToLoad(const QString& storePath, const QString& reason) {
    const PersistentStoreError error(storePath, reason);
    printFatal(error.what());
    throw error;
}

QString newerSchema(int storeVersion, size_t programVersion) {
    return QStringLiteral("the store has schema version %1, newer than this program's %2")
        .arg(storeVersion)
        .arg(programVersion);
}

QString nextConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("QVModel-%1").arg(counter.fetchAndAddRelaxed(1));
}

// A schema script, cut into its statements. The scripts hold no semicolons inside literals.
QStringList statementsOf(const QString& script) {
    QStringList lines;
    for (const QString& line : script.split(u'\n')) {
        if (!line.trimmed().startsWith(QStringLiteral("--")))
            lines << line;
    }
    QStringList statements;
    for (const QString& part : lines.join(u'\n').split(u';')) {
        if (const QString statement = part.trimmed(); !statement.isEmpty())
            statements << statement;
    }
    return statements;
}

bool run(QSqlDatabase& db, const QString& sql, QString& error) {
    QSqlQuery query(db);
    if (!query.exec(sql)) {
        error = query.lastError().text();
        return false;
    }
    return true;
}

bool runAll(QSqlDatabase& db, const std::vector<QStringList>& scripts, size_t from, QString& error) {
    for (size_t i = from; i < scripts.size(); ++i) {
        for (const QString& statement : scripts[i]) {
            if (!run(db, statement, error))
                return false;
        }
    }
    return true;
}

// SQLITE_BUSY and SQLITE_LOCKED.
bool isBusy(const QSqlError& error) {
    return error.nativeErrorCode() == QLatin1String("5") || error.nativeErrorCode() == QLatin1String("6");
}

void closeAndRemove(const QString& connectionName) {
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
}

// Qt's driver is built on the system's SQLite, the library linked here, so its connection takes our calls.
sqlite3* sqliteConnectionOf(const QSqlDatabase& db) {
    const QVariant handle = db.isValid() ? db.driver()->handle() : QVariant();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

// Closing the last connection to a store folds its write-ahead log into the file and deletes the log,
// unless told not to. False when the connection cannot be told.
bool foldLogOnClose(const QSqlDatabase& db, bool fold) {
    sqlite3* const connection = sqliteConnectionOf(db);
    return connection && sqlite3_db_config(connection, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, fold ? 0 : 1,
                                           nullptr) == SQLITE_OK;
}

class ScopedConnection {
public:
    explicit ScopedConnection(const QString& name)
        : m_name(name) {}
    ~ScopedConnection() { closeAndRemove(m_name); }

private:
    QString m_name;
};

} // namespace

QString PersistentContainer::defaultStorePath() {
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(dataDir).filePath(QStringLiteral("QVModel.sqlite"));
}

PersistentContainer::PersistentContainer(Options options)
    : m_options(std::move(options))
    , m_connectionName(nextConnectionName()) {
    if (m_options.storePath.isEmpty())
        m_options.storePath = defaultStorePath();

    // The model: the numbered schema scripts, version 1 upwards without gaps.
    const QDir modelDir(m_options.modelResource);
    if (!QFileInfo(m_options.modelResource).isDir())
        stop(QStringLiteral("Error loading model URL"));
    std::map<int, QString> scriptFiles;
    for (const QString& name : modelDir.entryList({QStringLiteral("*.sql")}, QDir::Files)) {
        bool numeric = false;
        const int version = QFileInfo(name).completeBaseName().toInt(&numeric);
        if (!numeric || version < 1)
            stop(QStringLiteral("Error loading managed object model"));
        scriptFiles[version] = modelDir.filePath(name);
    }
    std::vector<QStringList> scripts;
    for (const auto& [version, path] : scriptFiles) {
        QFile file(path);
        if (version != int(scripts.size()) + 1 || !file.open(QIODevice::ReadOnly))
            stop(QStringLiteral("Error loading managed object model"));
        scripts.push_back(statementsOf(QString::fromUtf8(file.readAll())));
    }
    if (scripts.empty())
        stop(QStringLiteral("Error loading managed object model"));
    {
        // A schema that does not build an empty database is no model at all.
        const QString probeName = m_connectionName + QStringLiteral("-model");
        ScopedConnection probeScope(probeName);
        QSqlDatabase probe = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), probeName);
        probe.setDatabaseName(QStringLiteral(":memory:"));
        QString error;
        if (!probe.open() || !runAll(probe, scripts, 0, error))
            stop(QStringLiteral("Error loading managed object model"));
    }
    m_schemaVersion = int(scripts.size());

    // A store that fails to load leaves no connection open behind it: none to keep its files in use, none
    // in the way of a later attempt. Its log is not folded into the file either: the refusal says the file
    // was left as it is.
    try {
        load(scripts);
    } catch (const PersistentStoreError&) {
        foldLogOnClose(database(), false);
        closeConnection();
        throw;
    }
}

void PersistentContainer::load(const std::vector<QStringList>& scripts) {
    const auto storeFailure = [this](const QString& description) {
        failToLoad(m_options.storePath, description);
    };
    // SQLite gives its write-ahead log and shared-memory files the store file's own mode.
    privatefiles::makeFolder(QFileInfo(m_options.storePath).absolutePath());
    privatefiles::prepareFile(m_options.storePath);
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        privatefiles::narrowFile(m_options.storePath + QLatin1String(suffix));
    const bool checked = checkBeforeWriting(scripts.size());

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    if (!db.isValid())
        storeFailure(QStringLiteral("the SQLite driver is not available"));
    db.setDatabaseName(m_options.storePath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_options.busyTimeoutMs));
    if (!db.open())
        storeFailure(db.lastError().text());

    QString error;
    // Another client has the store open, so this connection's close is not the last and folds nothing;
    // the same checks run here, on what that client keeps up to date.
    if (!checked)
        refuseUnusable(db, readVersion(db), scripts.size());
    {
        // Switching a new file to the write-ahead log needs it to itself, and SQLite reports "busy" for
        // that without waiting when another client is opening the same file; so this one step waits here.
        QDeadlineTimer deadline(m_options.busyTimeoutMs);
        QString mode;
        for (;;) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && query.next()) {
                mode = query.value(0).toString();
                break;
            }
            if (!isBusy(query.lastError()) || deadline.hasExpired())
                storeFailure(query.lastError().text());
            QThread::msleep(10);
        }
        if (mode.compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
            storeFailure(QStringLiteral("the store cannot use a write-ahead log"));
    }
    if (!run(db, QStringLiteral("PRAGMA synchronous=FULL"), error))
        storeFailure(error);
    // What is deleted is overwritten, not merely let go: a removed user's PIN digest must not linger in free
    // space of the store or of its log.
    if (!run(db, QStringLiteral("PRAGMA secure_delete=ON"), error))
        storeFailure(error);

    // Migrate inside the write lock, so two clients starting together apply the scripts once.
    const bool migrated = write(
        [&scripts, &db](QString& failure) {
            QSqlDatabase& store = db;
            QSqlQuery versionQuery(store);
            if (!versionQuery.exec(QStringLiteral("PRAGMA user_version")) || !versionQuery.next()) {
                failure = versionQuery.lastError().text();
                return false;
            }
            const int current = versionQuery.value(0).toInt();
            versionQuery.finish();
            if (current > int(scripts.size())) {
                failure = newerSchema(current, scripts.size());
                return false;
            }
            if (current == int(scripts.size()))
                return true;
            return runAll(store, scripts, size_t(current), failure) &&
                   run(store, QStringLiteral("PRAGMA user_version = %1").arg(scripts.size()), failure);
        },
        error);
    if (!migrated)
        storeFailure(error);
}

PersistentContainer::VersionRead PersistentContainer::readVersion(const QSqlDatabase& db) {
    QSqlQuery query(db);
    VersionRead read;
    if (query.exec(QStringLiteral("PRAGMA user_version")) && query.next())
        read.version = query.value(0).toInt();
    else
        read.error = query.lastError();
    return read;
}

bool PersistentContainer::checkBeforeWriting(size_t programVersion) const {
    const QString& path = m_options.storePath;
    const QString name = m_connectionName + QStringLiteral("-check");
    ScopedConnection scope(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    if (!db.isValid())
        failToLoad(path, QStringLiteral("the SQLite driver is not available"));
    db.setDatabaseName(path);
    // A client that has the store open holds it as long as it runs: waiting for it would gain nothing.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    if (!db.open())
        failToLoad(path, db.lastError().text());
    const QString log = path + QStringLiteral("-wal");
    const bool logBefore = QFileInfo::exists(log);
    QString error;
    // Alone on the file from its first read on, SQLite keeps the log's index in this process's memory and
    // leaves the -shm file of a run that was killed unread and unwritten.
    if (!run(db, QStringLiteral("PRAGMA locking_mode=EXCLUSIVE"), error))
        failToLoad(path, error);
    const VersionRead read = readVersion(db);
    // A log that reading made is empty, and goes as the connection closes; any other stays as it is.
    const bool keepLog = logBefore || QFileInfo(log).size() > 0;
    if (!foldLogOnClose(db, !keepLog))
        stop(QStringLiteral("The SQLite driver cannot leave a store's log as it is"));
    return refuseUnusable(db, read, programVersion);
}

bool PersistentContainer::refuseUnusable(const QSqlDatabase& db, const VersionRead& read,
                                         size_t programVersion) const {
    if (!read.version) {
        if (!isBusy(read.error))
            failToLoad(m_options.storePath, read.error.text());
        return false;
    }
    if (*read.version > int(programVersion))
        failToLoad(m_options.storePath, newerSchema(*read.version, programVersion));
    if (*read.version > 0 && m_options.refuseBeforeWriting) {
        if (const std::optional<QString> reason = m_options.refuseBeforeWriting(db))
            failToLoad(m_options.storePath, *reason);
    }
    return true;
}

PersistentContainer::~PersistentContainer() {
    closeConnection();
}

void PersistentContainer::closeConnection() {
    m_statements.clear();
    closeAndRemove(m_connectionName);
}

QSqlDatabase PersistentContainer::database() const {
    return QSqlDatabase::database(m_connectionName, false);
}

bool PersistentContainer::write(const std::function<bool(QString&)>& body, QString& error) const {
    // IMMEDIATE takes the write lock up front: two writers then queue on the busy timeout instead of
    // failing halfway when a read lock cannot be upgraded.
    if (!execute(QStringLiteral("BEGIN IMMEDIATE"), {}, error))
        return false;
    if (body(error) && execute(QStringLiteral("COMMIT"), {}, error))
        return true;
    QString ignored;
    execute(QStringLiteral("ROLLBACK"), {}, ignored);
    return false;
}

bool PersistentContainer::checkpoint(QString& error) const {
    // A truncating checkpoint waits out the busy timeout for every reader of the log; the caller, the UI
    // thread, must not. Without the wait it does what it can and reports whether it got to the end.
    QString ignored;
    execute(QStringLiteral("PRAGMA busy_timeout = 0"), {}, ignored);
    bool complete = false;
    const bool ran = execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), {}, error,
                             [&complete](const QSqlQuery& row) { complete = row.value(0).toInt() == 0; });
    execute(QStringLiteral("PRAGMA busy_timeout = %1").arg(m_options.busyTimeoutMs), {}, ignored);
    if (!ran)
        return false;
    if (!complete)
        error = QStringLiteral("another connection kept the write-ahead log in use");
    return complete;
}

bool PersistentContainer::execute(const QString& sql, const QVariantList& values, QString& error,
                                  const std::function<void(const QSqlQuery&)>& eachRow) const {
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery query(database());
        query.setForwardOnly(true);
        if (!query.prepare(sql)) {
            error = query.lastError().text();
            return false;
        }
        it = m_statements.insert(sql, query);
    }
    QSqlQuery& query = *it;
    for (qsizetype i = 0; i < values.size(); ++i)
        query.bindValue(int(i), values[i]);
    bool ok = query.exec();
    if (ok && eachRow) {
        while (query.next())
            eachRow(query);
        // next() answers false at the end and on an error alike (a damaged page, an I/O error): rows cut
        // short by an error are no answer, or an empty table would be taken for one without users.
        ok = !query.lastError().isValid();
    }
    if (!ok)
        error = query.lastError().text();
    // A statement left open would hold its read snapshot until its next use.
    query.finish();
    return ok;
}
