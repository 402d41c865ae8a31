// Medians of the device-storage operations the flows wait on. Run it through scripts/with-keyring.sh to
// include the desktop keyring; otherwise only the in-memory key store is measured. A user write is shown
// beside its floor measured in the same run: a bare SQLite transaction on a store of the same schema with
// the same statements, prepared once, and the same journal and synchronous settings.
//   storage_bench [samples-scale]
#include "AppLogger.h"
#include "Console.h"
#include "CoreDataManager.h"
#include "KeyChain.h"
#include "MemoryKeyStore.h"
#include "SecretServiceKeyStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

QTextStream out(stdout);

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const size_t mid = times.size() / 2;
    return times.size() % 2 ? times[mid] : (times[mid - 1] + times[mid]) / 2;
}

double elapsedMs(const std::function<void()>& run) {
    QElapsedTimer timer;
    timer.start();
    run();
    return double(timer.nsecsElapsed()) / 1e6;
}

double medianMs(int samples, const std::function<void(int)>& run) {
    std::vector<double> times;
    times.reserve(size_t(samples));
    for (int i = 0; i < samples; ++i)
        times.push_back(elapsedMs([&] { run(i); }));
    return median(std::move(times));
}

// The user write of the store done with SQLite alone: one IMMEDIATE transaction that finds the row by zid
// and updates it, with statements prepared once.
class BareUserWrite {
public:
    explicit BareUserWrite(const QString& path) {
        sqlite3* db = nullptr;
        m_ok = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
        m_db.reset(db);
        m_ok = m_ok && exec("PRAGMA journal_mode=WAL") && exec("PRAGMA synchronous=FULL");
        m_ok =
            m_ok && prepare(m_begin, "BEGIN IMMEDIATE") && prepare(m_commit, "COMMIT") &&
            prepare(m_select, "SELECT Z_PK, zid, suid, email, displayEmail, orgCode, pin, primaryAttr, "
                              "invalidAttemptCount, lockedTimeStamp FROM QVUserEntity WHERE zid = ? "
                              "ORDER BY Z_PK") &&
            prepare(m_update, "UPDATE QVUserEntity SET zid = ?, suid = ?, email = ?, pin = ?, orgCode = ?, "
                              "primaryAttr = ?, lockedTimeStamp = ?, invalidAttemptCount = ? WHERE Z_PK = ?");
    }
    bool ok() const { return m_ok; }

    bool write(const QByteArray& zid, const QByteArray& email, int attempts) {
        if (!step(m_begin))
            return false;
        sqlite3_bind_text(m_select.get(), 1, zid.constData(), int(zid.size()), SQLITE_STATIC);
        sqlite3_int64 pk = -1;
        while (sqlite3_step(m_select.get()) == SQLITE_ROW) {
            if (pk < 0)
                pk = sqlite3_column_int64(m_select.get(), 0);
        }
        sqlite3_reset(m_select.get());
        sqlite3_stmt* update = m_update.get();
        sqlite3_bind_text(update, 1, zid.constData(), int(zid.size()), SQLITE_STATIC);
        for (int column = 2; column <= 7; ++column)
            sqlite3_bind_null(update, column);
        sqlite3_bind_text(update, 3, email.constData(), int(email.size()), SQLITE_STATIC);
        sqlite3_bind_int64(update, 8, attempts);
        sqlite3_bind_int64(update, 9, pk);
        const bool updated = step(m_update);
        return step(m_commit) && updated && pk >= 0;
    }

private:
    struct Close {
        void operator()(sqlite3* db) const { sqlite3_close(db); }
    };
    struct Finalize {
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

    bool exec(const char* sql) {
        return sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    bool prepare(Statement& statement, const char* sql) {
        sqlite3_stmt* prepared = nullptr;
        const bool ok = sqlite3_prepare_v2(m_db.get(), sql, -1, &prepared, nullptr) == SQLITE_OK;
        statement.reset(prepared);
        return ok;
    }
    static bool step(const Statement& statement) {
        const int result = sqlite3_step(statement.get());
        sqlite3_reset(statement.get());
        return result == SQLITE_DONE;
    }

    std::unique_ptr<sqlite3, Close> m_db;
    Statement m_begin, m_commit, m_select, m_update;
    bool m_ok = false;
};

void report(const QString& what, int samples, double ms) {
    out << qSetFieldWidth(46) << Qt::left << what << qSetFieldWidth(0)
        << QStringLiteral("%1 ms  (median of %2)\n").arg(ms, 9, 'f', 3).arg(samples);
    out.flush();
}

void benchKeys(const QString& backend, int scale) {
    QStringList tags;
    const auto tag = [&tags] {
        tags << QStringLiteral("bench@example.org||") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        return tags.last();
    };
    const int creations = 10 * scale;
    report(backend + QStringLiteral(": key pair creation"), creations,
           medianMs(creations, [&](int) { KeyChain::getOrCreateKeyPair(tag()); }));
    const QString existing = tags.first();
    const int lookups = 50 * scale;
    report(backend + QStringLiteral(": lookup of an existing key"), lookups,
           medianMs(lookups, [&](int) { KeyChain::getOrCreateKeyPair(existing); }));
    const auto pair = KeyChain::getOrCreateKeyPair(existing);
    const int signs = 200 * scale;
    report(backend + QStringLiteral(": signing one message"), signs, medianMs(signs, [&](int i) {
               KeyChain::signBase64(pair->privateKey, QStringLiteral("suid-1||zid-1||code-%1").arg(i));
           }));
    for (const QString& t : std::as_const(tags))
        KeyChain::keyStore()->remove(t, KeyStore::anyItem);
}

void benchStore(const QString& dir, int scale) {
    for (const int users : {1, 10, 100}) {
        CoreDataManager store(
            PersistentContainer::Options{dir + QStringLiteral("/fetch-%1.sqlite").arg(users)});
        for (int i = 0; i < users; ++i) {
            AuthResponse user;
            user.zid = QStringLiteral("zid-%1").arg(i);
            user.suid = QStringLiteral("suid-%1").arg(i);
            user.email = QStringLiteral("user%1@example.org").arg(i);
            user.orgCode = QStringLiteral("ORG");
            user.pin = KeyChain::sha256Hex(QStringLiteral("123456"));
            user.primaryAttr = QStringLiteral("attr-%1").arg(i);
            store.saveAuthResponse(user);
        }
        const int samples = 200 * scale;
        report(QStringLiteral("readAuthResponses().value_or(std::vector<AuthResponse>{}) with %1 user(s)")
                   .arg(users),
               samples, medianMs(samples, [&](int) {
                   store.readAuthResponses().value_or(std::vector<AuthResponse>{});
               }));
    }
    CoreDataManager store(PersistentContainer::Options{dir + QStringLiteral("/update.sqlite")});
    AuthResponse user;
    user.zid = QStringLiteral("zid-0");
    user.email = QStringLiteral("user@example.org");
    store.saveAuthResponse(user);
    // The floor's store: the same schema, made by the client, then written by SQLite alone.
    {
        CoreDataManager floorStore(PersistentContainer::Options{dir + QStringLiteral("/bare.sqlite")});
        floorStore.saveAuthResponse(user);
    }
    BareUserWrite bare(dir + QStringLiteral("/bare.sqlite"));
    if (!bare.ok()) {
        out << "bare SQLite store cannot be opened\n";
        return;
    }
    const int samples = 200 * scale;
    std::vector<double> writes, floor;
    for (int i = 0; i < samples; ++i) { // interleaved, so that the disk's mood hits both alike
        user.invalidAttemptCount = i % 3;
        writes.push_back(elapsedMs([&] { store.updateAuthResponse(user); }));
        floor.push_back(elapsedMs([&] { bare.write("zid-0", "user@example.org", i % 3); }));
    }
    const double write = median(writes);
    const double bareWrite = median(floor);
    report(QStringLiteral("updateAuthResponse(_:) of a stored user"), samples, write);
    report(QStringLiteral("  bare SQLite transaction, same statements"), samples, bareWrite);
    out << QStringLiteral("  ratio %1\n").arg(write / bareWrite, 0, 'f', 2);
}

void benchLog(const QString& dir, int scale) {
    AppLogger logger({std::nullopt, dir + QStringLiteral("/Logs/bench.log")});
    logger.log(QStringLiteral("created"), AppLogger::LogType::info, QStringLiteral("bench"));
    const int samples = 2000 * scale;
    report(QStringLiteral("one application log entry"), samples, medianMs(samples, [&](int i) {
               logger.log(QStringLiteral("entry %1").arg(i), AppLogger::LogType::info);
           }));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int scale = std::max(1, argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1);
    QTemporaryDir dir;
    AppLogger::configure({std::nullopt, dir.filePath(QStringLiteral("Logs/quorvaleapp.log"))});
    console::setSink([](const QString&) {});

    KeyChain::setKeyStore(std::make_shared<MemoryKeyStore>());
    benchKeys(QStringLiteral("memory"), scale);
    if (SecretServiceKeyStore::isAvailable()) {
        KeyChain::setKeyStore(std::make_shared<SecretServiceKeyStore>());
        benchKeys(QStringLiteral("keyring"), scale);
    } else {
        out << "keyring: no Secret Service reachable, skipped\n";
    }
    benchStore(dir.path(), scale);
    benchLog(dir.path(), scale);
    return 0;
}
