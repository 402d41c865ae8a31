#include "app/StderrRedirect.h"
#include "platform/CrashReporting.h"
#include "storage/AppLogger.h"
#include "storage/CoreDataManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// The store holds e-mail addresses and the PIN's digest, which a 6-digit PIN gives away at once; the logs
// name users. Under the usual umask 022 every file and folder the client makes must still be its owner's
// alone.
class TestPrivateFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    mode_t m_savedUmask = 0;

    static int modeOf(const QString& path) {
        struct stat status {};
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
    }

    // Makes the things of one part of the client under `root`, and names them with their expected modes. The
    // store stays open in `store`, since SQLite removes its write-ahead log and shared-memory files on
    // closing.
    static QList<QPair<QString, int>> make(const QString& part, const QString& root,
                                           std::optional<CoreDataManager>& store) {
        if (part == "store") {
            store.reset();
            store.emplace(PersistentContainer::Options{root + "/data/nested/QVModel.sqlite"});
            AuthResponse record;
            record.zid = QStringLiteral("z1");
            record.email = QStringLiteral("a@x.org");
            record.orgCode = QStringLiteral("A");
            store->saveAuthResponse(record);
            return {{root + "/data/nested", 0700},
                    {root + "/data/nested/QVModel.sqlite", 0600},
                    {root + "/data/nested/QVModel.sqlite-wal", 0600},
                    {root + "/data/nested/QVModel.sqlite-shm", 0600}};
        }
        if (part == "log file") {
            AppLogger logger(AppLogger::Options{std::nullopt, root + "/app/Logs/quorvaleapp.log"});
            logger.log(QStringLiteral("signed in"), AppLogger::LogType::info, QStringLiteral("a@x.org"));
            return {{root + "/app/Logs", 0700}, {root + "/app/Logs/quorvaleapp.log", 0600}};
        }
        if (part == "crash reports") {
            FileCrashReporter reporter(root + "/reports/crash-reports.log");
            reporter.record({QStringLiteral("Non-Fatal error"), QStringLiteral("Error Code: 1")});
            return {{root + "/reports", 0700}, {root + "/reports/crash-reports.log", 0600}};
        }
        // Standard error's file; the documents folder is the user's and keeps its mode.
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QDir().mkpath(documents);
        const int savedStderr = ::dup(STDERR_FILENO);
        redirectStderrToLogFile();
        ::dup2(savedStderr, STDERR_FILENO);
        ::close(savedStderr);
        return {{documents + "/app.log", 0600}};
    }

private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        // Everything, the documents folder included, lives in a home of the test's own.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path() + "/.config"));
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).startsWith(m_home.path()));
        m_savedUmask = ::umask(022);
    }

    void cleanupTestCase() { ::umask(m_savedUmask); }

    void everythingTheClientMakesIsPrivate_data() {
        QTest::addColumn<QString>("part");
        QTest::addColumn<bool>("leftWideBefore"); // by an earlier run, under the old modes
        for (const char* part : {"store", "log file", "crash reports", "standard error"}) {
            QTest::addRow("%s, new", part) << QString(part) << false;
            QTest::addRow("%s, left wide before", part) << QString(part) << true;
        }
    }

    void everythingTheClientMakesIsPrivate() {
        QFETCH(QString, part);
        QFETCH(bool, leftWideBefore);
        const QString root = m_home.path() + "/" + QString(QTest::currentDataTag()).replace(' ', '_');
        QVERIFY(QDir().mkpath(root));
        std::optional<CoreDataManager> store;
        QList<QPair<QString, int>> made = make(part, root, store);
        if (leftWideBefore) {
            for (const auto& [path, mode] : std::as_const(made))
                QVERIFY(::chmod(QFile::encodeName(path).constData(), mode == 0700 ? 0755 : 0644) == 0);
            made = make(part, root, store);
        }
        // Folders made on the way are private too; ones that were there already are not the client's to
        // change.
        if (part == "store" && !leftWideBefore)
            made.append({root + "/data", 0700});
        for (const auto& [path, mode] : std::as_const(made)) {
            QVERIFY2(QFileInfo::exists(path), qPrintable(path));
            QCOMPARE(path + ": " + QString::number(modeOf(path), 8), path + ": " + QString::number(mode, 8));
        }
    }
};

QTEST_GUILESS_MAIN(TestPrivateFiles)
#include "tst_privatefiles.moc"
