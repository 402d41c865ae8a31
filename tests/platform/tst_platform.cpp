#include "platform/BundleInfo.h"
#include "platform/CrashReporting.h"
#include "platform/ProcessIdentity.h"
#include "platform/PropertyList.h"
#include "platform/SecretText.h"

#include <QDateTime>
#include <QFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray wrap(const QByteArray& value) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + value + "</plist>";
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void propertyListValues_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("string") << QByteArray("<string>a &amp; b</string>") << QVariant("a & b");
        QTest::newRow("integer") << QByteArray("<integer>-42</integer>") << QVariant(qint64(-42));
        QTest::newRow("real") << QByteArray("<real>1.5</real>") << QVariant(1.5);
        QTest::newRow("true") << QByteArray("<true/>") << QVariant(true);
        QTest::newRow("false") << QByteArray("<false/>") << QVariant(false);
        QTest::newRow("data") << QByteArray("<data>\n  YWJj\n</data>") << QVariant(QByteArray("abc"));
        QTest::newRow("date") << QByteArray("<date>2001-01-01T00:00:00Z</date>")
                              << QVariant(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
        QTest::newRow("array") << QByteArray("<array><string>x</string><integer>1</integer></array>")
                               << QVariant(QVariantList{"x", qint64(1)});
        QTest::newRow("nested dict")
            << QByteArray("<dict><key>a</key><dict><key>b</key><array/></dict><key>c</key><true/></dict>")
            << QVariant(QVariantMap{{"a", QVariantMap{{"b", QVariantList{}}}}, {"c", true}});
        QVariant deepest = QVariantList{};
        for (int level = 1; level < 64; ++level)
            deepest = QVariantList{deepest};
        QTest::newRow("64 levels") << QByteArray("<array>").repeated(64) + QByteArray("</array>").repeated(64)
                                   << deepest;
    }

    void propertyListValues() {
        QFETCH(QByteArray, xml);
        QFETCH(QVariant, expected);
        QString error;
        const auto value = plist::parse(wrap(xml), &error);
        QVERIFY2(value, qPrintable(error));
        QCOMPARE(*value, expected);
    }

    void wipedTextLeavesNoCopy_data() {
        QTest::addColumn<bool>("shared");
        QTest::newRow("own copy") << false;
        QTest::newRow("shared with another string") << true;
    }

    void wipedTextLeavesNoCopy() {
        QFETCH(bool, shared);
        QString other = QStringLiteral("135792");
        other.detach();
        QString pin = other;
        if (!shared)
            pin.detach();
        const QChar* buffer = pin.constData();
        wipeText(pin);
        QVERIFY(pin.isEmpty());
        if (shared) {
            // Someone else's string is let go, never overwritten.
            QCOMPARE(other, QStringLiteral("135792"));
        } else {
            // The buffer is kept (emptied, not freed), so it can be read to see it was overwritten.
            QCOMPARE(pin.constData(), buffer);
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer), 6 * sizeof(QChar)),
                     QByteArray(12, '\0'));
        }
    }

    void malformedPropertyLists_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::newRow("not xml") << QByteArray("{\"a\":1}");
        QTest::newRow("unclosed") << wrap("<dict><key>a</key>");
        QTest::newRow("key without value") << wrap("<dict><key>a</key></dict>");
        QTest::newRow("value without key") << wrap("<dict><string>a</string></dict>");
        QTest::newRow("bad integer") << wrap("<integer>12x</integer>");
        QTest::newRow("bad data") << wrap("<data>*</data>");
        QTest::newRow("unknown element") << wrap("<set/>");
        QTest::newRow("empty plist") << wrap("");
        QTest::newRow("other root") << QByteArray("<html><body/></html>");
        // A reader without a depth limit runs out of stack on these.
        QTest::newRow("65 levels") << wrap(QByteArray("<array>").repeated(65) +
                                           QByteArray("</array>").repeated(65));
        QTest::newRow("nested without end") << wrap(QByteArray("<dict><key>k</key>").repeated(200000) +
                                                    QByteArray("</dict>").repeated(200000));
    }

    void malformedPropertyLists() {
        QFETCH(QByteArray, xml);
        QString error;
        QVERIFY(!plist::parse(xml, &error));
        QVERIFY(!error.isEmpty());
    }

    void compiledInformationDictionary() {
        const auto root = plist::parse(BundleInfo::compiledPropertyList());
        QVERIFY(root);
        const QVariantMap info = root->toMap();
        QCOMPARE(info.value("Configuration").toString(), "Debug(Development)");
        QCOMPARE(info.value("CFBundleShortVersionString").toString(), "1.0.0");
        QVERIFY(!info.value("CFBundleIdentifier").toString().isEmpty());
        QVERIFY(info.value("TSKConfiguration").toMap().contains("TSKPinnedDomains"));
        QVERIFY(BundleInfo::apiHosts().development.startsWith("127.0.0.1"));
    }

    void optionsFileIsRequired() {
        QVERIFY(!CrashReporter::configure("/nonexistent/GoogleService-Info-Production.plist"));
        QTemporaryDir dir;
        QFile options(dir.filePath("GoogleService-Info-Production.plist"));
        QVERIFY(options.open(QIODevice::WriteOnly));
        options.write(wrap("<dict><key>IS_ENABLED</key><true/></dict>"));
        options.close();
        QVERIFY(CrashReporter::configure(options.fileName()));
        QVERIFY(CrashReporter::configure());
        QVERIFY(dynamic_cast<FileCrashReporter*>(&CrashReporter::shared()));
    }

    // An enrolment's owner that was killed but not yet reaped by its parent runs no more: its attempt is
    // one of an ended run. Before that it runs, and a name of another form cannot be checked at all.
    void aKilledProcessEndsBeforeItIsReaped() {
        int gate[2];
        QCOMPARE(::pipe(gate), 0);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            char byte = 0;
            ::close(gate[1]);
            // Blocks until the parent lets go; only async-signal-safe calls in a child of a threaded parent.
            [[maybe_unused]] const ssize_t got = ::read(gate[0], &byte, 1);
            ::_exit(0);
        }
        ::close(gate[0]);
        const auto reap = qScopeGuard([&] {
            ::close(gate[1]);
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        });
        // The child's name as the child itself would give it: the boot, its id and its start time.
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        QVERIFY(stat.open(QIODevice::ReadOnly));
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 1).simplified().split(' ');
        QVERIFY(fields.size() > 19);
        const QString self = processidentity::current();
        const QString child =
            self.section(u'/', 0, 0) + QStringLiteral("/%1/").arg(pid) + QString::fromLatin1(fields[19]);
        QVERIFY(processidentity::isRunning(self));
        QVERIFY(processidentity::isRunning(child));
        QVERIFY(processidentity::isRunning(QStringLiteral("not a process name")));

        QCOMPARE(::kill(pid, SIGKILL), 0);
        // A zombie until reaped: its table entry, start time and all, stays.
        QTRY_VERIFY([&] {
            QFile now(QStringLiteral("/proc/%1/stat").arg(pid));
            return now.open(QIODevice::ReadOnly) && now.readAll().contains(") Z ");
        }());
        QVERIFY(!processidentity::isRunning(child));
    }

    void reportsNeverHoldSecrets() {
        QTemporaryDir dir;
        FileCrashReporter reporter(dir.filePath("reports.log"));
        reporter.log(R"(Request : {"activationCode":"AC-778899","email":"a@b.c","pin":"1234"})");
        reporter.log(R"(Response : {"errorCode":12,"otp":123456})");
        reporter.log(R"(Request : {"uniqueId":"K7MQ3T","validationCode":4217,"suid":"s-1"})");
        reporter.setCustomValue("API_PATH", "https://h/api/v1/user/registration/validate");
        reporter.record({"Non-Fatal error", "Error Code: 12 Result Code: 0"});
        QFile file(reporter.reportsPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(!text.contains("AC-778899"));
        QVERIFY(!text.contains("1234"));
        QVERIFY(!text.contains("123456"));
        QVERIFY(!text.contains("K7MQ3T"));
        QVERIFY(!text.contains("4217"));
        QVERIFY(text.contains("s-1"));
        QVERIFY(text.contains("a@b.c"));
        QVERIFY(text.contains("Error Code: 12 Result Code: 0"));
        QVERIFY(text.contains("API_PATH"));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
