#include "CoreDataManager.h"
#include "support/ConsoleCapture.h"
#include "support/FileState.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <set>

#include <unistd.h>

// What other processes can do to the store: die in the middle of writing, write at the same time, or find
// it unusable.
class TestStoreCrash : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_counter = 0;

    QString freshStore() {
        return m_dir.filePath(QStringLiteral("crash-%1/QVModel.sqlite").arg(++m_counter));
    }

    static std::set<QString> storedZids(CoreDataManager& store) {
        std::set<QString> zids;
        for (const AuthResponse& user : store.readAuthResponses().value_or(std::vector<AuthResponse>{}))
            zids.insert(user.zid.value_or(QString()));
        return zids;
    }

    static bool writeFile(const QString& file, const QByteArray& bytes) {
        QFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
    }

    static QString integrity(CoreDataManager& store) {
        QSqlQuery query(store.persistentContainer().database());
        if (!query.exec(QStringLiteral("PRAGMA integrity_check")) || !query.next())
            return QStringLiteral("integrity check failed to run");
        return query.value(0).toString();
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
    }

    void aKilledWriterLosesNoReturnedWrite_data() {
        QTest::addColumn<int>("killAfter");
        QTest::newRow("first write") << 1;
        QTest::newRow("early") << 23;
        QTest::newRow("middle") << 150;
        QTest::newRow("late") << 600;
    }

    void aKilledWriterLosesNoReturnedWrite() {
        QFETCH(int, killAfter);
        const QString path = freshStore();
        QProcess writer;
        writer.start(QStringLiteral(QUORVALE_STORAGE_CHILD),
                     {QStringLiteral("burst"), path, QStringLiteral("u"), QStringLiteral("1000000")});
        QVERIFY(writer.waitForStarted());
        int confirmed = -1;
        QByteArray pending;
        while (confirmed + 1 < killAfter) {
            QVERIFY2(writer.waitForReadyRead(30000), "the writer stopped reporting");
            pending += writer.readAllStandardOutput();
            while (pending.contains('\n')) {
                const qsizetype end = pending.indexOf('\n');
                confirmed = pending.left(end).toInt();
                pending.remove(0, end + 1);
            }
        }
        writer.kill(); // SIGKILL: no clean-up of any kind in the writer
        QVERIFY(writer.waitForFinished(10000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        // Lines written before the kill still count: those writes returned.
        pending += writer.readAllStandardOutput();
        for (const QByteArray& line : pending.split('\n')) {
            if (!line.isEmpty())
                confirmed = line.toInt();
        }

        ConsoleCapture quiet;
        CoreDataManager store(PersistentContainer::Options{path});
        QCOMPARE(integrity(store), QStringLiteral("ok"));
        const std::set<QString> zids = storedZids(store);
        for (int i = 0; i <= confirmed; ++i)
            QVERIFY2(zids.count(QStringLiteral("u%1").arg(i)),
                     qPrintable(QStringLiteral("lost write %1").arg(i)));
        // At most the one write in flight at the kill may have landed beyond the last report.
        QVERIFY(int(zids.size()) <= confirmed + 2);
        // The store still takes writes.
        AuthResponse after;
        after.zid = QStringLiteral("after");
        store.updateAuthResponse(after);
        QCOMPARE(quiet.lines().last(), QStringLiteral("Auth response saved successfully"));
    }

    // Regression: two clients opening a new store at the same moment used to stop one of them, because
    // the switch to the write-ahead log does not wait for a busy file.
    void twoWritersShareTheStore_data() {
        QTest::addColumn<int>("perWriter");
        for (int round = 0; round < 8; ++round)
            QTest::addRow("opening together %d", round) << 3;
        QTest::newRow("long bursts") << 300;
    }

    void twoWritersShareTheStore() {
        QFETCH(int, perWriter);
        const QString path = freshStore();
        QProcess first;
        QProcess second;
        first.start(QStringLiteral(QUORVALE_STORAGE_CHILD),
                    {QStringLiteral("burst"), path, QStringLiteral("a"), QString::number(perWriter)});
        second.start(QStringLiteral(QUORVALE_STORAGE_CHILD),
                     {QStringLiteral("burst"), path, QStringLiteral("b"), QString::number(perWriter)});
        QVERIFY(first.waitForFinished(120000));
        QVERIFY(second.waitForFinished(120000));
        QVERIFY2(first.exitStatus() == QProcess::NormalExit && first.exitCode() == 0,
                 first.readAllStandardError().constData());
        QVERIFY2(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0,
                 second.readAllStandardError().constData());

        ConsoleCapture quiet;
        CoreDataManager store(PersistentContainer::Options{path});
        QCOMPARE(integrity(store), QStringLiteral("ok"));
        const std::set<QString> zids = storedZids(store);
        QCOMPARE(int(zids.size()), 2 * perWriter);
        QVERIFY(zids.count(QStringLiteral("a%1").arg(perWriter - 1)) && zids.count(QStringLiteral("b0")));
    }

    // A fault of the build itself stops the program.
    void aBrokenModelStopsTheProgram_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("no model") << "no-model"
                                  << "Error loading model URL";
        QTest::newRow("broken schema") << "broken-schema"
                                       << "Error loading managed object model";
        QTest::newRow("schema with a gap") << "gap-schema"
                                           << "Error loading managed object model";
    }

    void aBrokenModelStopsTheProgram() {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        const QString path = freshStore();
        const QString base = QFileInfo(path).absolutePath();
        QVERIFY(QDir().mkpath(base));
        QStringList args{QStringLiteral("open"), path};
        if (setup == QLatin1String("no-model")) {
            args << base + QStringLiteral("/no-such-model");
        } else {
            const QString model = base + QStringLiteral("/model");
            QVERIFY(QDir().mkpath(model));
            if (setup == QLatin1String("broken-schema")) {
                QVERIFY(writeFile(model + QStringLiteral("/1.sql"), "CREATE TABLE (;"));
            } else {
                QVERIFY(writeFile(model + QStringLiteral("/1.sql"), "CREATE TABLE t (a);"));
                QVERIFY(writeFile(model + QStringLiteral("/3.sql"), "CREATE TABLE u (a);"));
            }
            args << model;
        }
        QProcess opener;
        opener.start(QStringLiteral(QUORVALE_STORAGE_CHILD), args);
        QVERIFY(opener.waitForFinished(30000));
        QCOMPARE(opener.exitStatus(), QProcess::CrashExit);
        const QString errors = QString::fromUtf8(opener.readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral("DatabaseManager: Fatal error: ") + message),
                 qPrintable(errors));
    }

    // A store whose file is at fault is the caller's to end the program over, plainly: opening it throws,
    // with the path and the reason, and leaves the file, its folder and the open connections as they were.
    void aStoreThatCannotBeLoadedIsLeftAsItWas_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder") << "folder"
                                  << "";
        QTest::newRow("not a database") << "garbage"
                                        << "file is not a database";
        QTest::newRow("a newer program's store")
            << "newer"
            << "the store has schema version 99, newer than this program's";
        QTest::newRow("a newer program's store, not in WAL mode")
            << "newer-rollback"
            << "the store has schema version 99, newer than this program's";
        QTest::newRow("unreadable") << "unreadable"
                                    << "";
    }

    void aStoreThatCannotBeLoadedIsLeftAsItWas() {
        QFETCH(QString, setup);
        QFETCH(QString, reason);
        const QString path = freshStore();
        const QString folder = QFileInfo(path).absolutePath();
        QVERIFY(QDir().mkpath(folder));
        if (setup == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (setup == QLatin1String("garbage")) {
            QVERIFY(writeFile(path, QByteArray(8192, 'q')));
        } else if (setup == QLatin1String("unreadable") && ::geteuid() == 0) {
            QSKIP("The superuser reads a file whatever its mode.");
        } else {
            {
                ConsoleCapture quiet;
                CoreDataManager store(PersistentContainer::Options{path});
                QSqlQuery query(store.persistentContainer().database());
                if (setup == QLatin1String("newer-rollback"))
                    QVERIFY(query.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) && query.next());
                query.finish();
                if (setup != QLatin1String("unreadable"))
                    QVERIFY(query.exec(QStringLiteral("PRAGMA user_version = 99")));
            }
            if (setup == QLatin1String("unreadable"))
                QVERIFY(QFile::setPermissions(path, {}));
        }
        const FileState before = FileState::of(path);
        const FileState folderBefore = FileState::of(folder);
        const QStringList connections = QSqlDatabase::connectionNames();

        try {
            CoreDataManager store(PersistentContainer::Options{path});
            QFAIL("the store opened");
        } catch (const PersistentStoreError& error) {
            QCOMPARE(error.storePath(), path);
            QVERIFY2(error.reason().startsWith(reason), qPrintable(error.reason()));
            QCOMPARE(QString::fromUtf8(error.what()),
                     QStringLiteral("Error loading persistent store: %1, {path = \"%2\"}")
                         .arg(error.reason(), path));
        }
        QVERIFY2(FileState::of(path).isUntouchedFrom(before), "the store was changed");
        QCOMPARE(FileState::of(folder).entries, folderBefore.entries);
        QCOMPARE(QSqlDatabase::connectionNames(), connections);
    }

    // The first use of the shared store may fail; it leaves nothing half made, and a later use opens the
    // store afresh.
    void aFailedFirstOpenOfTheSharedStoreCanBeRetried() {
        const QString path = freshStore();
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QVERIFY(writeFile(path, QByteArray(8192, 'q')));
        QVERIFY(CoreDataManager::configure(PersistentContainer::Options{path}));
        const QStringList connections = QSqlDatabase::connectionNames();
        QVERIFY_THROWS_EXCEPTION(PersistentStoreError, CoreDataManager::shared());
        QCOMPARE(QSqlDatabase::connectionNames(), connections);

        QVERIFY(QFile::remove(path));
        ConsoleCapture quiet;
        CoreDataManager& store = CoreDataManager::shared();
        QCOMPARE(&CoreDataManager::shared(), &store);
        QCOMPARE(store.persistentContainer().storePath(), path);
        AuthResponse user;
        user.zid = QStringLiteral("after");
        QVERIFY(store.updateAuthResponse(user));
        QCOMPARE(storedZids(store), std::set<QString>{QStringLiteral("after")});
    }
};

QTEST_GUILESS_MAIN(TestStoreCrash)
#include "tst_storecrash.moc"
