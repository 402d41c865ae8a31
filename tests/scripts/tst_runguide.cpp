// What scripts/run.sh prints, through the functions it calls, for the computers it may find: nobody, one or
// several users enrolled, links that open or not, clones deep in a home folder. A newcomer reads it in an
// 80-column terminal of 24 rows, where a longer line breaks inside a word and the top of the guide has
// scrolled away when the window opens, and pastes its commands as they stand.
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>

namespace {

constexpr qsizetype terminalColumns = 80;
constexpr qsizetype terminalRows = 24;
const QString guideScript = QStringLiteral(QUORVALE_SOURCE_DIR "/scripts/run-guide.sh");

struct Printed {
    QStringList lines;
    QString error;
};

// Runs one of the guide's functions as run.sh does, by sourcing the script.
Printed runGuide(const QStringList& functionAndArguments) {
    QProcess bash;
    bash.start(QStringLiteral("bash"),
               QStringList{"-c", R"(set -euo pipefail; source "$0"; "$@")", guideScript} +
                   functionAndArguments);
    if (!bash.waitForFinished(30000) || bash.exitStatus() != QProcess::NormalExit || bash.exitCode() != 0)
        return {{},
                QStringLiteral("bash ended with %1: %2")
                    .arg(bash.exitCode())
                    .arg(QString::fromUtf8(bash.readAllStandardError()))};
    const QString error = QString::fromUtf8(bash.readAllStandardError());
    return {QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n')), error};
}

// What bash runs when the commands are pasted into a terminal, one after the other: the words each program
// would be given, noted by stand-ins of the programs the commands name.
QList<QStringList> runAsPasted(const QList<QStringList>& commands) {
    QString typed = QStringLiteral(R"SH(unset HISTFILE
noted() { printf '%s\037' "$@"; printf '\036'; }
curl() { noted curl "$@"; }
tail() { noted tail "$@"; }
bash() { noted ${QUORVALE_DEV_IDLE_MINUTES+"QUORVALE_DEV_IDLE_MINUTES=$QUORVALE_DEV_IDLE_MINUTES"} bash "$@"; }
)SH");
    for (const QStringList& command : commands)
        typed += command.join(u'\n') + u'\n';
    QProcess bash;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HISTFILE"), QString());
    bash.setProcessEnvironment(environment);
    // Interactive, as a terminal's shell is: history expansion and all.
    bash.start(QStringLiteral("bash"), {"--norc", "--noprofile", "-i"});
    bash.write(typed.toUtf8());
    bash.closeWriteChannel();
    if (!bash.waitForFinished(30000))
        return {};
    QList<QStringList> ran;
    const QString noted = QString::fromUtf8(bash.readAllStandardOutput());
    for (const QString& call : noted.split(QChar(0x1e), Qt::SkipEmptyParts)) {
        QStringList words = call.split(QChar(0x1f));
        words.removeLast(); // after the last separator
        ran.append(words);
    }
    return ran;
}

QString content(const QString& line) {
    qsizetype start = 0;
    while (start < line.size() && line[start] == u' ')
        ++start;
    return line.mid(start);
}

// The first line of each command the guide gives.
bool isCommand(const QString& line) {
    static const QRegularExpression command(QStringLiteral("^(curl|tail|QUORVALE_DEV_IDLE_MINUTES=\\d+) "));
    return command.match(content(line)).hasMatch();
}

// A path, URL or address with nothing beside it: one word, which no terminal width would break better.
bool standsAlone(const QString& line) {
    return !content(line).isEmpty() && !content(line).contains(u' ');
}

// The commands the guide gives, as printed: the line that starts each, and the lines that a backslash at the
// end of one carries it on to.
QList<QStringList> commandsIn(const QStringList& lines) {
    QList<QStringList> commands;
    bool goesOn = false;
    for (const QString& line : lines) {
        if (goesOn)
            commands.last().append(line);
        else if (isCommand(line))
            commands.append({line});
        else
            continue;
        goesOn = line.endsWith(u'\\');
    }
    return commands;
}

// Every line fits the terminal, but for a single path, URL or address on a line of its own; a command's lines
// fit too, or a paste would take the breaks the terminal puts in.
void verifyWidth(const QStringList& lines) {
    QStringList commandLines;
    for (const QStringList& command : commandsIn(lines))
        commandLines += command;
    for (const QString& line : lines) {
        QVERIFY2(!line.contains(u'\t'), qPrintable(line));
        QVERIFY2(line.size() <= terminalColumns || (standsAlone(line) && !commandLines.contains(line)),
                 qPrintable(QStringLiteral("%1 columns: %2").arg(line.size()).arg(line)));
    }
}

// What the terminal shows once the lines are printed: their last rows, a longer line taking a row for each 80
// columns it spans, down to the empty row of the cursor.
QStringList screenAfter(const QStringList& lines) {
    QStringList rows;
    for (const QString& line : lines) {
        if (line.isEmpty())
            rows.append(QString());
        for (qsizetype at = 0; at < line.size(); at += terminalColumns)
            rows.append(line.mid(at, terminalColumns));
    }
    return rows.mid(std::max<qsizetype>(0, rows.size() - terminalRows));
}

const QString shortRoot = QStringLiteral("/home/ana/quorvale");
const QString deepRoot =
    QStringLiteral("/home/ana.lucia.fernandes/Projects/identity-and-access/desktop-clients/quorvale-linux");
const QString awkwardRoot = QStringLiteral("/home/ana/Ana's clone/quorvale");

} // namespace

class TestRunGuide : public QObject {
    Q_OBJECT

private slots:
    void theGuideFitsAnEightyColumnTerminal_data() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("idle");
        QTest::addColumn<bool>("linksOpen");
        QTest::addColumn<QString>("registration");
        QTest::addColumn<QStringList>("enrolled");
        const QString opened =
            QStringLiteral("quorvaleid: links open %1/build/dev-release/src/quorvale (xdg-mime query "
                           "default x-scheme-handler/quorvaleid: QuorvaleID.desktop).");
        const QString notOpened =
            QStringLiteral("xdg-mime query default x-scheme-handler/quorvaleid names \"nothing\", not "
                           "QuorvaleID.desktop.");
        QTest::newRow("nobody enrolled") << shortRoot << "https://127.0.0.1:8443"
                                         << "15" << true << opened.arg(shortRoot) << QStringList{};
        QTest::newRow("nobody enrolled, deep clone, links do not open")
            << deepRoot << "https://127.0.0.1:65535"
            << "15" << false << notOpened << QStringList{};
        QTest::newRow("one enrolled, deep clone")
            << deepRoot << "https://127.0.0.1:65535"
            << "1" << true << opened.arg(deepRoot)
            << QStringList{"ana.lucia.fernandes@identity-and-access.subsidiary.example.org"};
        QTest::newRow("several enrolled, idle time unknown")
            << shortRoot << "https://127.0.0.1:8443"
            << "" << true << opened.arg(shortRoot)
            << QStringList{"new.user@example.com", "second.user@example.com",
                           "a.third.user.of.the.organisation@example.com"};
        QTest::newRow("a clone whose folder needs quoting")
            << awkwardRoot << "https://127.0.0.1:8443"
            << "1440" << false << notOpened << QStringList{"new.user@example.com"};
    }

    void theGuideFitsAnEightyColumnTerminal() {
        QFETCH(QString, root);
        QFETCH(QString, base);
        QFETCH(QString, idle);
        QFETCH(bool, linksOpen);
        QFETCH(QString, registration);
        QFETCH(QStringList, enrolled);
        const QString build = root + QStringLiteral("/build/dev-release");
        const QString certificates = build + QStringLiteral("/dev-certificates");
        const QString clientLog = build + QStringLiteral("/client.log");
        const Printed guide =
            runGuide(QStringList{"print_guide", base, certificates, build + "/dev-identity-service.log",
                                 clientLog, "new.user@example.com", "482913", idle, root,
                                 linksOpen ? "ok" : "failed", registration} +
                     enrolled);
        QVERIFY2(guide.error.isEmpty(), qPrintable(guide.error));
        verifyWidth(guide.lines);
        if (QTest::currentTestFailed())
            return;

        // Pasted as printed, the commands hand their programs the words meant, the paths included.
        const QString authority = certificates + QStringLiteral("/ca.pem");
        const QList<QStringList> expected{
            {"tail", "-f", clientLog},
            {"QUORVALE_DEV_IDLE_MINUTES=1", "bash", root + "/scripts/run.sh"},
            {"curl", "-X", "POST", "-w", "\\n", "--cacert", authority,
             base + "/dev/policy?desktopIdleSession=1"},
            {"curl", "-X", "POST", "-w", "\\n", "--cacert", authority, base + "/dev/sign-in"},
            {"curl", "-X", "POST", "-w", "\\n", "--cacert", authority, base + "/dev/sign-in?secondCode=1"},
            {"curl", "-X", "POST", "-w", "\\n", "--cacert", authority, base + "/dev/activation-code"}};
        QCOMPARE(runAsPasted(commandsIn(guide.lines)), expected);

        // Each enrolled address whole on a line of its own, however long.
        for (const QString& email : enrolled)
            QVERIFY2(guide.lines.contains(QStringLiteral("  ") + email), qPrintable(email));
        // The keyring's own dialog can only come up at a first enrolment.
        QCOMPARE(guide.lines.join(u' ').contains(QStringLiteral("\"Choose password for new keyring\"")),
                 enrolled.isEmpty());

        // When the window opens, the screen still says what it opens on and holds the first step.
        const QStringList screen = screenAfter(guide.lines);
        const auto opensOn = std::find_if(screen.begin(), screen.end(), [](const QString& row) {
            return row.startsWith(QStringLiteral("In the QuorvaleID window")) ||
                   row.startsWith(QStringLiteral("This computer keeps"));
        });
        QVERIFY2(std::find_if(opensOn, screen.end(),
                              [](const QString& row) { return row.startsWith(QStringLiteral("  1. ")); }) !=
                     screen.end(),
                 qPrintable(screen.join(u'\n')));
    }

    void theOtherLinesFitToo_data() {
        QTest::addColumn<QStringList>("call");
        QTest::addColumn<QStringList>("says");
        const QString deepLog = deepRoot + QStringLiteral("/build/dev-release/client.log");
        QTest::newRow("the port is taken") << QStringList{"guide_port_taken"} << QStringList{};
        QTest::newRow("the first run made the certificates")
            << QStringList{"guide_certificates_made", deepRoot + "/build/dev-release/dev-certificates"}
            << QStringList{};
        // A closed window is the run's normal end, not a failure to explain.
        QTest::newRow("the window was closed")
            << QStringList{"guide_client_ended", "0", deepLog}
            << QStringList{"window was closed", "service has stopped", deepLog};
        for (const char* status : {"1", "66", "69", "75", "78"})
            QTest::addRow("the client ended with status %s", status)
                << QStringList{"guide_client_ended", status, deepLog} << QStringList{};
    }

    void theOtherLinesFitToo() {
        QFETCH(QStringList, call);
        QFETCH(QStringList, says);
        const Printed printed = runGuide(call);
        QVERIFY2(printed.error.isEmpty(), qPrintable(printed.error));
        QVERIFY(printed.lines.join(QString()).size() > 0);
        verifyWidth(printed.lines);
        // Read as the terminal shows it, the wrapped lines joined again.
        QStringList words;
        for (const QString& line : printed.lines)
            words.append(content(line));
        const QString text = words.join(u' ');
        for (const QString& phrase : says)
            QVERIFY2(text.contains(phrase), qPrintable(phrase + QStringLiteral(" not in: ") + text));
    }
};

QTEST_GUILESS_MAIN(TestRunGuide)
#include "tst_runguide.moc"
