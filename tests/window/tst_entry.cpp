// The program's entry as a process: one running client per user and per store, links handed over, the
// keyring refusal, the refusal without a display or with one that cannot be opened, a store that cannot be
// opened, the crash-reporting options and standard error's file.
#include "platform/Console.h"
#include "platform/SecretServiceKeyStore.h"
#include "storage/CoreDataManager.h"
#include "support/DamagedStore.h"
#include "support/FileState.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <csignal>
#include <functional>
#include <memory>

#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString child = QStringLiteral(QUORVALE_ENTRY_CHILD);

// One run of the entry, with its own home, data and socket.
class EntryRun {
public:
    EntryRun(const QString& home, const QString& socket, const QStringList& arguments,
             const QStringList& environment = {}, const std::function<void()>& beforeStart = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("XDG_DOCUMENTS_DIR"), home + QStringLiteral("/Documents"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // Nothing listens here, so the start-up requests fail at once without reaching a real service.
        env.insert(QStringLiteral("QUORVALE_DEV_API_HOST"), QStringLiteral("127.0.0.1:9"));
        // "NAME=value" sets a variable, a bare "NAME" removes it.
        for (const QString& pair : environment) {
            if (pair.contains(QLatin1Char('=')))
                env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
            else
                env.remove(pair);
        }
        process.setProcessEnvironment(env);
        if (beforeStart)
            process.setChildProcessModifier(beforeStart);
        process.start(child, QStringList{QStringLiteral("--data"), home + QStringLiteral("/data"),
                                         QStringLiteral("--socket"), socket} +
                                 arguments);
    }
    ~EntryRun() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Waits until the process printed `line` (a whole line), up to `timeoutMs`.
    bool waitForLine(const QString& line, int timeoutMs = 15000) {
        QElapsedTimer timer;
        timer.start();
        while (!output().contains(line)) {
            if (timer.elapsed() > timeoutMs || process.state() == QProcess::NotRunning)
                return output().contains(line);
            process.waitForReadyRead(100);
        }
        return true;
    }
    // The lines the child prints about itself; the program's own traffic log is left out.
    QStringList output() {
        m_out += QString::fromUtf8(process.readAllStandardOutput());
        static const QRegularExpression own(
            QStringLiteral("^(started|restore|closeOthers|miniaturize|deepLink .*|open .*|box: .*)$"));
        QStringList lines;
        for (const QString& line : m_out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (own.match(line).hasMatch())
                lines.append(line);
        return lines;
    }
    QString errors() {
        m_err += QString::fromUtf8(process.readAllStandardError());
        return m_err;
    }
    // What the program asked of its key store, in order ("keyring find", ...).
    QStringList keyringCalls() {
        output();
        return m_out.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^keyring ")));
    }
    bool boxShown(const QString& text) {
        const QStringList out = output();
        return std::any_of(out.begin(), out.end(), [&text](const QString& line) {
            return line.startsWith(QStringLiteral("box: ") + text);
        });
    }

    QProcess process;

private:
    QString m_out;
    QString m_err;
};

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A store of the program's own, with enough users to span several pages, one of them damaged as a failing
// disk leaves it: the store opens, but no walk over its users gets to the end.
bool writeStoreWithDamagedUsers(const QString& path) {
    console::setSink([](const QString&) {});
    {
        CoreDataManager store(PersistentContainer::Options{path});
        for (int i = 0; i < 240; ++i) {
            AuthResponse user;
            user.zid = QStringLiteral("zid-%1").arg(i);
            user.email = QStringLiteral("user%1@organisation.example.org").arg(i);
            user.orgCode = QStringLiteral("ORG1");
            user.pin = QStringLiteral("PIN%1").arg(i);
            user.primaryAttr = QStringLiteral("attribute-%1").arg(i);
            store.saveAuthResponse(user);
        }
    }
    console::setSink({});
    return damageMiddlePageOf(path, QStringLiteral("QVUserEntity"));
}

// What a run killed after a write leaves of the store at `from`, at `to`: the file, a log never folded into
// it, and the log's index. Copied while the store that wrote them is open, since its closing folds them.
bool copyAsAKilledRunLeavesIt(const QString& from, const QString& to) {
    console::setSink([](const QString&) {});
    const auto restoreSink = qScopeGuard([] { console::setSink({}); });
    CoreDataManager store(PersistentContainer::Options{from});
    store.saveLastLoginDate(QDateTime::currentDateTimeUtc());
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (!QFile::copy(from + suffix, to + suffix))
            return false;
    }
    return QFileInfo(to + QStringLiteral("-wal")).size() > 0;
}

// The superuser reads and writes a file whatever its mode. A child of a test run as root starts without
// those two powers, and so meets a file's mode as its owner would.
void withoutPowerOverFileModes() {
    if (::geteuid() != 0)
        return;
    for (const int power : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
        if (::prctl(PR_CAPBSET_DROP, power, 0, 0, 0) != 0) {
            static const char said[] = "the child cannot give up the superuser's power over file modes\n";
            [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, said, sizeof said - 1);
            ::_exit(127);
        }
    }
}

// An X display that no server here serves.
QString unservedDisplay() {
    int number = 197;
    while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
        ++number;
    return QStringLiteral(":%1").arg(number);
}

} // namespace

class TestEntry : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString home() const { return m_dir->filePath(QStringLiteral("home")); }
    QString socket() const { return m_dir->filePath(QStringLiteral("run/quorvaleid.socket")); }

    // A start that checks the keyring for real where no keyring service answers, so that it ends in the
    // keyring's refusal unless something stops it first; shown a box to close when `display`.
    std::unique_ptr<EntryRun> refusedStart(bool display, const std::function<void()>& beforeStart = {}) {
        QStringList arguments{QStringLiteral("--real-keyring")};
        if (display)
            arguments.append(QStringLiteral("--as-if-display"));
        return std::make_unique<EntryRun>(
            home(), socket(), arguments,
            QStringList{QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=") + m_dir->filePath("no-bus")},
            beforeStart);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(home() + QStringLiteral("/data")));
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("run"))));
        // The socket's folder is the user's alone, like a runtime folder.
        QVERIFY(QFile::setPermissions(m_dir->filePath(QStringLiteral("run")),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void secondStartHandsItsLinkOver_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("link") << QStringList{QStringLiteral("quorvaleid://sign-in?id=K7Q2M9")}
                              << QStringList{QStringLiteral("closeOthers"),
                                             QStringLiteral("deepLink quorvaleid://sign-in?id=K7Q2M9"),
                                             QStringLiteral("restore")};
        QTest::newRow("no link: the window only comes forward")
            << QStringList{} << QStringList{QStringLiteral("restore")};
        QTest::newRow("not a quorvaleid link")
            << QStringList{QStringLiteral("https://example.com/?id=K7Q2M9")}
            << QStringList{QStringLiteral("restore")};
    }

    void secondStartHandsItsLinkOver() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, expected);
        EntryRun first(home(), socket(), {});
        QVERIFY2(first.waitForLine(QStringLiteral("started")), qPrintable(first.errors()));
        const qsizetype before = first.output().size();

        EntryRun second(home(), socket(), arguments);
        QVERIFY(second.process.waitForFinished(15000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY(!second.output().contains(QStringLiteral("started")));

        QVERIFY(first.waitForLine(expected.last()));
        QCOMPARE(first.output().mid(before), expected);
        QCOMPARE(first.process.state(), QProcess::Running);
    }

    void firstStartTakesItsOwnLink() {
        EntryRun run(home(), socket(), {QStringLiteral("quorvaleid://sign-in?id=ABC123")});
        QVERIFY2(run.waitForLine(QStringLiteral("started")), qPrintable(run.errors()));
        QVERIFY(run.output().contains(QStringLiteral("deepLink quorvaleid://sign-in?id=ABC123")));
    }

    // Without a runtime folder of the user's own the client still runs, without its socket, and says so;
    // it never falls back to the temporary folder that all users share.
    void withoutAPrivateRuntimeFolderItRunsAlone() {
        const QString runtime = m_dir->filePath(QStringLiteral("runtime"));
        const QString shared = m_dir->filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkpath(runtime) && QDir().mkpath(shared));
        QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                   QFile::ReadOther | QFile::ExeOther));
        // Where the platform would make its own runtime folder, something else stands.
        QFile blocker(shared + QStringLiteral("/runtime-") +
                      QString::fromLocal8Bit(getpwuid(::geteuid())->pw_name));
        QVERIFY(blocker.open(QIODevice::WriteOnly));

        EntryRun run(home(), QString(), {QStringLiteral("quorvaleid://sign-in?id=ABC123")},
                     {QStringLiteral("XDG_RUNTIME_DIR=") + runtime, QStringLiteral("TMPDIR=") + shared});
        QVERIFY2(run.waitForLine(QStringLiteral("started")), qPrintable(run.errors()));
        QVERIFY2(run.errors().contains(QStringLiteral("runs without its single-instance socket")),
                 qPrintable(run.errors()));
        QVERIFY(run.output().contains(QStringLiteral("deepLink quorvaleid://sign-in?id=ABC123")));
        QVERIFY(QDir(shared)
                    .entryList({QStringLiteral("quorvaleid*")}, QDir::AllEntries | QDir::System)
                    .isEmpty());
    }

    void socketOfCrashedRunDoesNotBlock() {
        {
            EntryRun crashed(home(), socket(), {});
            QVERIFY(crashed.waitForLine(QStringLiteral("started")));
            ::kill(pid_t(crashed.process.processId()), SIGKILL);
            QVERIFY(crashed.process.waitForFinished(5000));
        }
        QVERIFY(QFile::exists(socket()));

        EntryRun next(home(), socket(), {QStringLiteral("quorvaleid://sign-in?id=ABC123")});
        QVERIFY2(next.waitForLine(QStringLiteral("started")), qPrintable(next.errors()));
        // It took the link itself instead of handing it to nobody.
        QVERIFY(next.output().contains(QStringLiteral("deepLink quorvaleid://sign-in?id=ABC123")));
    }

    // Where the single-instance socket is refused (its folder is open to others), a second start on the same
    // store finds the first one's lock and ends before it looks at the keyring or the store: with the keyring
    // unreachable it would otherwise end with the keyring's refusal.
    void aSecondClientOnTheSameStoreIsRefused_data() {
        QTest::addColumn<bool>("display");
        QTest::newRow("a display: a box") << true;
        QTest::newRow("no display: a line") << false;
    }

    void aSecondClientOnTheSameStoreIsRefused() {
        QFETCH(bool, display);
        const QString open = m_dir->filePath(QStringLiteral("open"));
        QVERIFY(QDir().mkpath(open));
        const QString openSocket = open + QStringLiteral("/quorvaleid.socket");
        EntryRun first(home(), openSocket, {});
        QVERIFY2(first.waitForLine(QStringLiteral("started")), qPrintable(first.errors()));
        QVERIFY(first.errors().contains(QStringLiteral("runs without its single-instance socket")));
        struct stat lock {};
        QCOMPARE(::stat(QFile::encodeName(home() + QStringLiteral("/data/QVModel.sqlite.lock")).constData(),
                        &lock),
                 0);
        QCOMPARE(lock.st_mode & 0777, 0600u);

        QStringList arguments{QStringLiteral("--real-keyring"),
                              QStringLiteral("quorvaleid://sign-in?id=ABC123")};
        if (display)
            arguments.append(QStringLiteral("--as-if-display"));
        EntryRun second(home(), openSocket, arguments,
                        {QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=") + m_dir->filePath("no-bus")});
        QVERIFY2(second.process.waitForFinished(30000), "the refusal waited for a click nobody can make");
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 75);
        QVERIFY2(second.errors().contains(QStringLiteral("QuorvaleID is already running.")),
                 qPrintable(second.errors()));
        QVERIFY(!second.errors().contains(QStringLiteral("keyring")));
        const QStringList out = second.output();
        QVERIFY(!out.contains(QStringLiteral("started")));
        const bool boxShown = std::any_of(out.begin(), out.end(), [](const QString& line) {
            return line.startsWith(QStringLiteral("box: QuorvaleID is already running."));
        });
        QCOMPARE(boxShown, display);

        // The first one runs on, and once it has ended the store is free again.
        QCOMPARE(first.process.state(), QProcess::Running);
        QVERIFY(first.output().indexOf(QStringLiteral("deepLink quorvaleid://sign-in?id=ABC123")) < 0);
        first.process.terminate();
        QVERIFY(first.process.waitForFinished(5000));
        EntryRun third(home(), openSocket, {});
        QVERIFY2(third.waitForLine(QStringLiteral("started")), qPrintable(third.errors()));
    }

    // A running client that is stopped (or hung) takes the connection into its queue but never reads it.
    // The second start says so where "already running" is said, and speaks of a link only when it has one.
    void aRunningClientThatDoesNotAnswerIsNamed_data() {
        QTest::addColumn<bool>("withLink");
        QTest::addColumn<bool>("display");
        for (const bool withLink : {false, true})
            for (const bool display : {false, true})
                QTest::addRow("%s, %s", withLink ? "a link" : "no link",
                              display ? "a display: a box" : "no display: a line")
                    << withLink << display;
    }

    void aRunningClientThatDoesNotAnswerIsNamed() {
        QFETCH(bool, withLink);
        QFETCH(bool, display);
        EntryRun first(home(), socket(), {});
        QVERIFY2(first.waitForLine(QStringLiteral("started")), qPrintable(first.errors()));
        const pid_t stopped = pid_t(first.process.processId());
        QCOMPARE(::kill(stopped, SIGSTOP), 0);
        const auto resume = qScopeGuard([stopped] { ::kill(stopped, SIGCONT); });

        QStringList arguments;
        if (withLink)
            arguments.append(QStringLiteral("quorvaleid://sign-in?id=ABC123"));
        if (display)
            arguments.append(QStringLiteral("--as-if-display"));
        EntryRun second(home(), socket(), arguments);
        QVERIFY2(second.process.waitForFinished(30000), "the refusal waited for a click nobody can make");
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 75);
        const QString said = QStringLiteral("QuorvaleID is already running but is not answering");
        QVERIFY2(second.errors().contains(said), qPrintable(second.errors()));
        QCOMPARE(second.errors().contains(QStringLiteral("link")), withLink);
        QCOMPARE(second.boxShown(said), display);
        QVERIFY(!second.output().contains(QStringLiteral("started")));
        QCOMPARE(first.process.state(), QProcess::Running);
    }

    // The store's own line stays; the stop is a plain exit with its own status, before the keyring is asked
    // (here no keyring service answers: asking it would end in the keyring's refusal instead), and the
    // store's files stay exactly as they were. A store whose users cannot all be read is such a store: a run
    // on it would take it for one where nobody is enrolled.
    void aStoreThatCannotBeOpenedStopsPlainly_data() {
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("display");
        for (const bool display : {true, false}) {
            const char* answer = display ? "a display: a box" : "no display: a line";
            QTest::addRow("not a database, %s", answer)
                << QStringLiteral("garbage") << QStringLiteral("file is not a database") << display;
            QTest::addRow("a folder, %s", answer) << QStringLiteral("folder") << QString() << display;
            QTest::addRow("unreadable, %s", answer)
                << QStringLiteral("unreadable") << QStringLiteral("unable to open database file") << display;
            QTest::addRow("its users on a damaged page, %s", answer)
                << QStringLiteral("damaged users")
                << QStringLiteral("the enrolled users cannot be read: database disk image is malformed")
                << display;
        }
        // The log a killed run leaves beside the store is what closing the store after its check folds into
        // the file.
        QTest::newRow("its users on a damaged page beside a killed run's log, no display: a line")
            << QStringLiteral("damaged users, a killed run's log")
            << QStringLiteral("the enrolled users cannot be read: database disk image is malformed") << false;
    }

    void aStoreThatCannotBeOpenedStopsPlainly() {
        QFETCH(QString, store);
        QFETCH(QString, reason);
        QFETCH(bool, display);
        const QString data = home() + QStringLiteral("/data");
        const QString path = data + QStringLiteral("/QVModel.sqlite");
        if (store == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (store == QLatin1String("damaged users")) {
            QVERIFY(QDir().mkpath(data));
            QVERIFY(writeStoreWithDamagedUsers(path));
        } else if (store == QLatin1String("damaged users, a killed run's log")) {
            const QString origin = m_dir->filePath(QStringLiteral("origin.sqlite"));
            QVERIFY(writeStoreWithDamagedUsers(origin));
            QVERIFY(copyAsAKilledRunLeavesIt(origin, path));
        } else {
            QVERIFY(writeFile(path, QByteArray(8192, 'q')));
            if (store == QLatin1String("unreadable"))
                QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0), 0);
        }
        const QStringList files{path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")};
        QList<FileState> before;
        for (const QString& file : files)
            before.append(FileState::of(file));
        const FileState folderBefore = FileState::of(data);

        const auto started = refusedStart(display, withoutPowerOverFileModes);
        EntryRun& run = *started;
        QVERIFY2(run.process.waitForFinished(30000), "the refusal waited for a click nobody can make");
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 66);
        const QString errors = run.errors();
        QVERIFY2(
            errors.contains(QStringLiteral("DatabaseManager: Fatal error: Error loading persistent store: ") +
                            reason),
            qPrintable(errors));
        QVERIFY2(errors.contains(QStringLiteral(", {path = \"%1\"}").arg(path)), qPrintable(errors));
        QVERIFY2(!errors.contains(QStringLiteral("keyring")), qPrintable(errors));
        QCOMPARE(run.keyringCalls(), QStringList());
        QVERIFY(!run.output().contains(QStringLiteral("started")));
        QCOMPARE(run.boxShown(QStringLiteral("QuorvaleID cannot open its store of enrolled users:\\n") +
                              path + QStringLiteral("\\n\\n") + reason),
                 display);

        for (qsizetype i = 0; i < files.size(); ++i)
            QVERIFY2(FileState::of(files[i]).isUntouchedFrom(before[i]),
                     qPrintable(files[i] + " was changed"));
        // Beside them only the lock that every start takes; no log or journal of SQLite's comes or goes.
        FileState folderAfter = FileState::of(data);
        folderAfter.entries.removeOne(QStringLiteral("QVModel.sqlite.lock"));
        QCOMPARE(folderAfter.entries, folderBefore.entries);
    }

    // The keys stored users need stay where they are when the store cannot be read: the program stops
    // before any key is looked at.
    void aStoreThatCannotBeOpenedLeavesTheKeyringAlone() {
        if (!SecretServiceKeyStore::isAvailable())
            QSKIP("No Secret Service is reachable (run through scripts/with-keyring.sh).");
        SecretServiceKeyStore keyring;
        const QString tag = QStringLiteral("entry-") + QUuid::createUuid().toString(QUuid::WithoutBraces) +
                            QStringLiteral("||0123456789ABCDEF");
        const QByteArray secret = QUuid::createUuid().toRfc4122();
        QCOMPARE(keyring.add(tag, SecureBytes(secret)), KeyStore::success);
        const auto removeKey = qScopeGuard([&keyring, &tag] { keyring.remove(tag, KeyStore::anyItem); });
        QVERIFY(writeFile(home() + QStringLiteral("/data/QVModel.sqlite"), QByteArray(8192, 'q')));

        EntryRun run(home(), socket(), {QStringLiteral("--real-keyring")});
        QVERIFY(run.process.waitForFinished(30000));
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 66);
        QCOMPARE(run.keyringCalls(), QStringList());
        const std::optional<SecureBytes> kept = keyring.find(tag);
        QVERIFY(kept);
        QCOMPARE(kept->view(), QByteArrayView(secret));
    }

    // Qt would abort, advising a reinstall, when the display that the session names is not there.
    void aDisplayThatCannotBeOpenedIsNamed_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("unopened");
        const QString x = unservedDisplay();
        const QString wayland = QStringLiteral("quorvale-no-compositor");
        const QString xSet = QStringLiteral("DISPLAY=") + x;
        const QString waylandSet = QStringLiteral("WAYLAND_DISPLAY=") + wayland;
        const QString platform = QStringLiteral("QT_QPA_PLATFORM");
        QTest::newRow("an X display")
            << QStringList{} << QStringList{platform, QStringLiteral("WAYLAND_DISPLAY"), xSet}
            << QStringLiteral("the X display %1 (DISPLAY) cannot be opened").arg(x);
        QTest::newRow("a Wayland display")
            << QStringList{} << QStringList{platform, QStringLiteral("DISPLAY"), waylandSet}
            << QStringLiteral("the Wayland display %1 (WAYLAND_DISPLAY) cannot be opened").arg(wayland);
        QTest::newRow("both") << QStringList{} << QStringList{platform, xSet, waylandSet}
                              << QStringLiteral("neither the Wayland display %1 (WAYLAND_DISPLAY) nor the X "
                                                "display %2 (DISPLAY) can be opened")
                                     .arg(wayland, x);
        QTest::newRow("X chosen by -platform")
            << QStringList{QStringLiteral("-platform"), QStringLiteral("xcb")}
            << QStringList{platform, QStringLiteral("WAYLAND_DISPLAY"), xSet}
            << QStringLiteral("the X display %1 (DISPLAY) cannot be opened").arg(x);
        QTest::newRow("a platform that is not there")
            << QStringList{} << QStringList{platform + QStringLiteral("=quorvale-none"), xSet}
            << QStringLiteral("the platform quorvale-none (QT_QPA_PLATFORM) cannot be opened");
    }

    void aDisplayThatCannotBeOpenedIsNamed() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(QString, unopened);
        EntryRun run(home(), socket(), arguments, environment);
        QVERIFY(run.process.waitForFinished(15000));
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 78);
        QCOMPARE(run.errors(), QStringLiteral("QuorvaleID needs a graphical desktop session: ") + unopened +
                                   QStringLiteral(".\n"));
        QVERIFY(run.output().isEmpty());
    }

    // What Qt says while a platform starts is only held back: once one starts, it is said after all.
    void messagesOfAPlatformThatStartsAreKept() {
        EntryRun run(home(), socket(), {}, {QStringLiteral("QT_QPA_PLATFORM=quorvale-none;offscreen")});
        QVERIFY2(run.waitForLine(QStringLiteral("started")), qPrintable(run.errors()));
        QVERIFY2(
            run.errors().contains(QStringLiteral("Could not find the Qt platform plugin \"quorvale-none\"")),
            qPrintable(run.errors()));
    }

    // Qt would abort for want of a display; the program says what it needs and ends instead.
    void withoutADisplayItSaysWhatItNeeds_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("runs");
        QTest::newRow("no platform chosen") << QStringList{} << false;
        QTest::newRow("a platform on the command line")
            << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen")} << true;
    }

    void withoutADisplayItSaysWhatItNeeds() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, runs);
        EntryRun run(home(), socket(), arguments,
                     {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("DISPLAY"),
                      QStringLiteral("WAYLAND_DISPLAY")});
        if (runs) {
            QVERIFY2(run.waitForLine(QStringLiteral("started")), qPrintable(run.errors()));
            return;
        }
        QVERIFY(run.process.waitForFinished(15000));
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 78);
        QCOMPARE(run.errors(),
                 QStringLiteral("QuorvaleID needs a graphical desktop session: neither DISPLAY nor "
                                "WAYLAND_DISPLAY is set.\n"));
        QVERIFY(run.output().isEmpty());
    }

    // With a display the refusal is a box to close; with none (here the offscreen platform) nobody could
    // close it, so the line on standard error is all, and the program ends at once.
    void withoutKeyringItRefusesToRun_data() {
        QTest::addColumn<bool>("display");
        QTest::newRow("a display: a box") << true;
        QTest::newRow("no display: no box to wait for") << false;
    }

    void withoutKeyringItRefusesToRun() {
        QFETCH(bool, display);
        const auto started = refusedStart(display);
        EntryRun& run = *started;
        QVERIFY2(run.process.waitForFinished(30000), "the refusal waited for a click nobody can make");
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 69);
        QVERIFY2(run.errors().contains(QStringLiteral("no keyring service answers")),
                 qPrintable(run.errors()));
        const QStringList out = run.output();
        QVERIFY(!out.contains(QStringLiteral("started")));
        const bool boxShown = std::any_of(out.begin(), out.end(), [](const QString& line) {
            return line.startsWith(QStringLiteral("box: ")) && line.contains(QStringLiteral("keyring"));
        });
        QCOMPARE(boxShown, display);
        // Nothing was kept anywhere else in its place: beside the user store (opened before the keyring is
        // asked) and its lock there is nothing.
        const QStringList kept =
            QDir(home() + QStringLiteral("/data"))
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        for (const QString& name : kept)
            QVERIFY2(name.startsWith(QStringLiteral("QVModel.sqlite")), qPrintable(name));
    }

    void missingCrashReportingOptionsStopTheProgram() {
        EntryRun run(home(), socket(), {QStringLiteral("--crash-options"), m_dir->filePath("missing.plist")});
        QVERIFY(run.process.waitForFinished(15000));
        QCOMPARE(run.process.exitStatus(), QProcess::CrashExit);
        QVERIFY(run.errors().contains(QStringLiteral("Could not load Firebase configuration file.")));
        QVERIFY(!run.output().contains(QStringLiteral("started")));
    }

    void standardErrorIsAppendedToTheDocumentsLog() {
        const QString log = home() + QStringLiteral("/Documents/app.log");
        QVERIFY(QDir().mkpath(home() + QStringLiteral("/Documents")));
        {
            QFile existing(log);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("earlier run\n");
        }
        EntryRun run(home(), socket(), {});
        QVERIFY(run.waitForLine(QStringLiteral("started")));
        run.process.terminate();
        QVERIFY(run.process.waitForFinished(5000));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.startsWith("earlier run\n"));
        QVERIFY2(text.contains("entry_child: standard error after start-up\n"), text.constData());
        QVERIFY(!run.errors().contains(QStringLiteral("standard error after start-up")));
    }
};

QTEST_GUILESS_MAIN(TestEntry)
#include "tst_entry.moc"
