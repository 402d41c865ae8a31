#include "AppLogger.h"
#include "BundleInfo.h"
#include "support/ConsoleCapture.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <ctime>
#include <memory>
#include <vector>

namespace {

const QString stamp = QStringLiteral(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3})");

QString readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace

class TestAppLogger : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_counter = 0;

    QString freshPath() {
        return m_dir.filePath(QStringLiteral("run-%1/Logs/quorvaleapp.log").arg(++m_counter));
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
    }

    void onlyAUserEntryCreatesTheFile() {
        const QString path = freshPath();
        AppLogger logger({std::nullopt, path});
        ConsoleCapture capture;

        logger.log(QStringLiteral("a"), AppLogger::LogType::error);
        QCOMPARE(capture.lines(), QStringList{QStringLiteral("Unable to open log file.")});
        QVERIFY(!QFile::exists(path));

        logger.log(QStringLiteral("b"), AppLogger::LogType::error, QStringLiteral("u"));
        QVERIFY(QRegularExpression(QStringLiteral("^Quorvale://\\[") + stamp +
                                   QStringLiteral(", user: u\\] b\\n$"))
                    .match(readAll(path))
                    .hasMatch());

        logger.log(QStringLiteral("c"), AppLogger::LogType::info);
        QCOMPARE(capture.lines().size(), 1);
        const QStringList lines = readAll(path).split(u'\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[2].isEmpty());
        QVERIFY(QRegularExpression(QStringLiteral("^Quorvale://\\[") + stamp + QStringLiteral("\\] c$"))
                    .match(lines[1])
                    .hasMatch());
    }

    void entryFormats_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("empty user") << QString() << QStringLiteral("m") << QStringLiteral(", user: \\] m");
        QTest::newRow("non-ASCII") << QStringLiteral("ü@x.org") << QStringLiteral("Grüße")
                                   << QStringLiteral(", user: ü@x.org\\] Grüße");
        // A server's text must not forge entries of its own.
        QTest::newRow("line breaks in a server's text")
            << QStringLiteral("u") << QStringLiteral("Denied\r\nQuorvale://[2026-01-01 00:00:00.000] forged")
            << QStringLiteral(
                   ", user: u\\] Denied\\\\r\\\\nQuorvale://\\[2026-01-01 00:00:00\\.000\\] forged");
        QTest::newRow("line break in the user")
            << QStringLiteral("u\nQuorvale://[x] forged") << QStringLiteral("m")
            << QStringLiteral(", user: u\\\\nQuorvale://\\[x\\] forged\\] m");
    }

    void entryFormats() {
        QFETCH(QString, user);
        QFETCH(QString, message);
        QFETCH(QString, pattern);
        const QString path = freshPath();
        AppLogger logger({std::nullopt, path});
        logger.log(message, AppLogger::LogType::error, user);
        QVERIFY(
            QRegularExpression(QStringLiteral("^Quorvale://\\[") + stamp + pattern + QStringLiteral("\\n$"))
                .match(readAll(path))
                .hasMatch());
    }

    void withoutAPathNothingIsWritten() {
        AppLogger logger({std::nullopt, std::nullopt});
        logger.setLogFilePath(std::nullopt);
        ConsoleCapture capture;
        logger.log(QStringLiteral("a"));
        logger.log(QStringLiteral("b"), AppLogger::LogType::error, QStringLiteral("u"));
        QVERIFY(capture.lines().isEmpty());
    }

    void theSubsystemIsTheBundleIdentifier() {
        const QVariantMap compiled = BundleInfo::infoDictionary();
        QVariantMap without = compiled;
        without.remove(QStringLiteral("CFBundleIdentifier"));
        BundleInfo::setInfoDictionary(without);
        QCOMPARE(AppLogger(AppLogger::Options{}).subsystem(), QStringLiteral("com.quorvale.identifier"));
        without.insert(QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.example.bundle"));
        BundleInfo::setInfoDictionary(without);
        QCOMPARE(AppLogger(AppLogger::Options{}).subsystem(), QStringLiteral("com.example.bundle"));
        BundleInfo::setInfoDictionary(compiled);
        QCOMPARE(AppLogger({QStringLiteral("com.example.app"), std::nullopt}).subsystem(),
                 QStringLiteral("com.example.app"));
    }

    // The stamp is the wall-clock time where the user is, down to the millisecond.
    void timestampIsLocalTime_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("UTC") << QByteArray("UTC");
        QTest::newRow("half-hour offset east") << QByteArray("Asia/Kolkata");
        QTest::newRow("half-hour offset west") << QByteArray("America/St_Johns");
    }

    void timestampIsLocalTime() {
        QFETCH(QByteArray, zone);
        const QByteArray previous = qgetenv("TZ");
        qputenv("TZ", zone);
        tzset();
        const QString path = freshPath();
        AppLogger logger({std::nullopt, path});
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
        logger.log(QStringLiteral("m"), AppLogger::LogType::info, QStringLiteral("u"));
        const QDateTime after = QDateTime::currentDateTime().addMSecs(1);
        const QDateTime stamped =
            QDateTime::fromString(readAll(path).mid(12, 23), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        qputenv("TZ", previous);
        tzset();
        QVERIFY(stamped.isValid());
        QVERIFY2(before <= stamped && stamped <= after, qPrintable(stamped.toString(Qt::ISODateWithMs)));
    }

    // The file is kept open between entries; a new path must take the entries from then on.
    void entriesFollowAChangedPath() {
        const QString first = freshPath();
        const QString second = freshPath();
        AppLogger logger({std::nullopt, first});
        logger.log(QStringLiteral("a"), AppLogger::LogType::info, QStringLiteral("u"));
        logger.log(QStringLiteral("b"), AppLogger::LogType::info);
        logger.setLogFilePath(second);
        logger.log(QStringLiteral("c"), AppLogger::LogType::info, QStringLiteral("u"));
        logger.log(QStringLiteral("d"), AppLogger::LogType::info);
        const QRegularExpression entry(QStringLiteral(R"(\] (\w)\n)"));
        const auto messages = [&entry](const QString& text) {
            QStringList found;
            for (auto it = entry.globalMatch(text); it.hasNext();)
                found << it.next().captured(1);
            return found;
        };
        QCOMPARE(messages(readAll(first)), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(messages(readAll(second)), (QStringList{QStringLiteral("c"), QStringLiteral("d")}));
    }

    // Entries from many threads must never interleave inside one line.
    void concurrentEntriesStayWhole() {
        const QString path = freshPath();
        AppLogger logger({std::nullopt, path});
        logger.log(QStringLiteral("start"), AppLogger::LogType::info, QStringLiteral("u"));
        constexpr int threads = 8;
        constexpr int perThread = 200;
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(QThread::create([&logger, t] {
                for (int i = 0; i < perThread; ++i)
                    logger.log(QStringLiteral("thread %1 entry %2 ").arg(t).arg(i) + QString(100, u'x'),
                               AppLogger::LogType::info);
            }));
            workers.back()->start();
        }
        for (auto& worker : workers)
            QVERIFY(worker->wait(60000));
        const QStringList lines = readAll(path).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), threads * perThread + 1);
        const QRegularExpression whole(QStringLiteral("^Quorvale://\\[") + stamp +
                                       QStringLiteral("\\] thread \\d entry \\d+ x{100}$"));
        for (int i = 1; i < lines.size(); ++i)
            QVERIFY2(whole.match(lines[i]).hasMatch(), qPrintable(lines[i]));
    }
};

QTEST_GUILESS_MAIN(TestAppLogger)
#include "tst_applogger.moc"
