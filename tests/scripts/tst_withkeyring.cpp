// The private keyring that the test command runs in, started from a terminal of a desktop session. Its
// session bus starts the keyring's prompter, so a bus or keyring daemon that knows the user's display puts an
// unlock dialog on the user's screen, where it waits minutes for an answer. Neither may know it; the command
// run inside keeps it.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

namespace {

const QString withKeyring = QStringLiteral(QUORVALE_SOURCE_DIR "/scripts/with-keyring.sh");
const QStringList displayVariables{"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY"};

// Run inside the session: the display variables of the bus, of the keyring daemon and of the command itself,
// one "<who> <variable>=<value>" line each (a process it cannot read ends it with a failure); then whether a
// look at an item in the locked default collection, which asks the prompter for an unlock, comes back
// refused.
const char* const probe = R"SH(
set -euo pipefail
[ "${QUORVALE_KEYRING_READY:-}" = 1 ] || { echo "no keyring"; exit 0; }
owner() {
  dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.GetConnectionUnixProcessID "string:$1" | awk '{print $2}'
}
displays() { tr '\0' '\n' | { grep -E '^(DISPLAY|WAYLAND_DISPLAY|XAUTHORITY)=' || true; } | sed "s/^/$1 /"; }
displays bus </proc/"$(owner org.freedesktop.DBus)"/environ
displays keyring </proc/"$(owner org.freedesktop.secrets)"/environ
env -0 | displays command
printf 'kept' | secret-tool store --label="quorvale prompt probe" quorvale-prompt-probe 1
dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets \
  org.freedesktop.Secret.Service.Lock array:objpath:/org/freedesktop/secrets/collection/login >/dev/null
if [ -z "$(secret-tool lookup quorvale-prompt-probe 1 2>/dev/null)" ]; then
  echo "prompt refused"
else
  echo "prompt answered"
fi
)SH";

} // namespace

class TestWithKeyring : public QObject {
    Q_OBJECT

private slots:
    void theKeyringSessionNeverSeesTheDisplay_data() {
        QTest::addColumn<QStringList>("given");
        QTest::newRow("an X display")
            << QStringList{"DISPLAY=:4242", "XAUTHORITY=/nonexistent/quorvale-xauthority"};
        QTest::newRow("a Wayland display") << QStringList{"WAYLAND_DISPLAY=quorvale-wayland-4242"};
        QTest::newRow("both") << QStringList{"DISPLAY=:4242", "WAYLAND_DISPLAY=quorvale-wayland-4242"};
    }

    void theKeyringSessionNeverSeesTheDisplay() {
        QFETCH(QStringList, given);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // A session of its own, also when the test itself runs inside one.
        for (const char* name :
             {"QUORVALE_IN_KEYRING_SESSION", "QUORVALE_KEYRING_READY", "DBUS_SESSION_BUS_ADDRESS"})
            environment.remove(QLatin1String(name));
        for (const QString& variable : displayVariables)
            environment.remove(variable);
        for (const QString& pair : given)
            environment.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));

        QProcess session;
        session.setProcessEnvironment(environment);
        session.start(QStringLiteral("bash"), {withKeyring, QStringLiteral("bash"), QStringLiteral("-c"),
                                               QString::fromLatin1(probe)});
        // A prompt waiting on a dialog would hold the session for minutes.
        QVERIFY2(session.waitForFinished(60000), "the session did not end: a keyring prompt is waiting");
        const QString error = QString::fromUtf8(session.readAllStandardError());
        QVERIFY2(session.exitStatus() == QProcess::NormalExit && session.exitCode() == 0, qPrintable(error));
        const QStringList lines =
            QString::fromUtf8(session.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        if (lines.contains(QStringLiteral("no keyring"))) {
            if (qEnvironmentVariable("CI") == QLatin1String("true"))
                QFAIL(qPrintable(QStringLiteral("CI needs a working Secret Service: ") + error));
            QSKIP("no keyring daemon can be brought up here");
        }

        QStringList seen;
        for (const QString& line : lines) {
            if (line.startsWith(QStringLiteral("bus ")) || line.startsWith(QStringLiteral("keyring ")))
                seen.append(line);
        }
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join(u'\n')));
        for (const QString& pair : given)
            QVERIFY2(lines.contains(QStringLiteral("command ") + pair), qPrintable(lines.join(u'\n')));
        QVERIFY2(lines.contains(QStringLiteral("prompt refused")),
                 qPrintable(lines.join(u'\n') + u'\n' + error));
    }
};

QTEST_GUILESS_MAIN(TestWithKeyring)
#include "tst_withkeyring.moc"
