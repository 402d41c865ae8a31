#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

// Which environment a build is for is decided when it is configured: the presets and the project configured
// afresh, the way a packager would, each into a folder of its own.
class TestBuildEnvironment : public QObject {
    Q_OBJECT

    struct Configured {
        bool ok = false;
        QString output;
        QString folder;

        QByteArray infoPlist() const {
            QFile file(folder + QStringLiteral("/src/platform/Info.plist"));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }
        // The compiler command line of a source file of the api library.
        QString commandFor(const QString& source) const {
            QFile file(folder + QStringLiteral("/compile_commands.json"));
            if (!file.open(QIODevice::ReadOnly))
                return {};
            for (const QJsonValue& entry : QJsonDocument::fromJson(file.readAll()).array())
                if (entry[QStringLiteral("file")].toString().endsWith(QStringLiteral("/src/api/") + source))
                    return entry[QStringLiteral("command")].toString();
            return {};
        }
    };

    static Configured configure(const QString& name, const QStringList& arguments) {
        Configured result;
        result.folder = QCoreApplication::applicationDirPath() + QStringLiteral("/configured/") + name;
        QDir(result.folder).removeRecursively();
        QProcess cmake;
        cmake.setWorkingDirectory(QStringLiteral(QUORVALE_SOURCE_DIR));
        cmake.setProcessChannelMode(QProcess::MergedChannels);
        cmake.start(QStringLiteral("cmake"), arguments + QStringList{QStringLiteral("-B"), result.folder});
        result.ok = cmake.waitForFinished(240000) && cmake.exitStatus() == QProcess::NormalExit &&
                    cmake.exitCode() == 0;
        result.output = QString::fromLocal8Bit(cmake.readAll());
        return result;
    }

private slots:
    void environmentsAreChosenWhenConfigured_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("configuration"); // empty: configuring refuses, and says why
        QTest::addColumn<QString>("refusal");
        const QString pin = QStringLiteral("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=");
        const QStringList pins{QStringLiteral("-DQUORVALE_PINNED_KEY_HASHES=") + pin +
                               QStringLiteral(";BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBA=")};
        const QString host = QStringLiteral("-DQUORVALE_API_HOST_PRODUCTION=api.quorvale-test.org");
        QTest::newRow("the run command's preset")
            << QStringList{"--preset", "dev-release"} << "Release(Development)"
            << "";
        QTest::newRow("a deployment with its host and pins")
            << QStringList{"--preset", "deployment", host} + pins << "Release(Production)"
            << "";
        QTest::newRow("another environment by its name")
            << QStringList{"--preset", "deployment", "-DQUORVALE_CONFIGURATION=Debug(UAT)",
                           "-DQUORVALE_API_HOST_UAT=uat.quorvale-test.org:8443"} +
                   pins
            << "Debug(UAT)"
            << "";
        QTest::newRow("a deployment without its host") << QStringList{"--preset", "deployment"} + pins << ""
                                                       << "QUORVALE_API_HOST_PRODUCTION";
        QTest::newRow("a deployment without pins") << QStringList{"--preset", "deployment", host} << ""
                                                   << "QUORVALE_PINNED_KEY_HASHES";
        QTest::newRow("a deployment with one pin and no backup")
            << QStringList{"--preset", "deployment", host,
                           "-DQUORVALE_PINNED_KEY_HASHES=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="}
            << ""
            << "QUORVALE_PINNED_KEY_HASHES";
        QTest::newRow("a deployment with the same pin twice")
            << QStringList{"--preset", "deployment", host, "-DQUORVALE_PINNED_KEY_HASHES=" + pin + ";" + pin}
            << ""
            << "backup";
        // The Base64 of a SHA-1 digest: 20 bytes.
        QTest::newRow("a deployment with a pin that is no SHA-256 digest")
            << QStringList{"--preset", "deployment", host,
                           "-DQUORVALE_PINNED_KEY_HASHES=" + pin + ";ERERERERERERERERERERERERERE="}
            << ""
            << "\"ERERERERERERERERERERERERERE=\"";
    }

    void environmentsAreChosenWhenConfigured() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, configuration);
        QFETCH(QString, refusal);
        const Configured configured =
            configure(QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-'), arguments);
        if (configuration.isEmpty()) {
            QVERIFY2(!configured.ok, qPrintable(configured.output));
            QVERIFY2(configured.output.contains(refusal), qPrintable(configured.output));
            return;
        }
        QVERIFY2(configured.ok, qPrintable(configured.output));
        QVERIFY(configured.infoPlist().contains("<string>" + configuration.toUtf8() + "</string>"));
        const bool development = configuration.endsWith(QStringLiteral("(Development)"));
        // Only a development build reads QUORVALE_DEV_API_HOST and trusts the development authority.
        const QString environment = configured.commandFor(QStringLiteral("Environment.cpp"));
        QVERIFY2(environment.contains(development ? QStringLiteral("-DQUORVALE_DEVELOPMENT_BUILD=1")
                                                  : QStringLiteral("-DQUORVALE_DEVELOPMENT_BUILD=0")),
                 qPrintable(environment));
        const QString trust = configured.commandFor(QStringLiteral("DevelopmentTrust.cpp"));
        QVERIFY(!trust.isEmpty());
        QCOMPARE(trust.contains(QStringLiteral("QUORVALE_DEV_CA_FILE")), development);
        QDir(configured.folder).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestBuildEnvironment)
#include "tst_buildenvironment.moc"
