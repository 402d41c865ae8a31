// The application's start-up: the first-run wipe, the crash-reporting set-up and links.
#include "IdentityServiceDouble.h"
#include "RecordingWindowController.h"
#include "api/DevelopmentTrust.h"
#include "networking/HttpTransport.h"
#include "platform/Console.h"
#include "platform/MemoryKeyStore.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "window/Launcher.h"
#include "window/QuorvaleApp.h"
#include "window/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestStartup : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    IdentityServiceDouble m_service;
    std::shared_ptr<MemoryKeyStore> m_keys = std::make_shared<MemoryKeyStore>();

    static AuthResponse storedUser(const QString& zid) {
        AuthResponse user;
        user.zid = zid;
        user.suid = QStringLiteral("S-") + zid;
        user.email = zid.toLower() + QStringLiteral("@example.com");
        user.displayEmail = user.email;
        user.orgCode = QStringLiteral("ORG1");
        user.primaryAttr = QStringLiteral("P-") + zid;
        user.pin = QStringLiteral("PINHASH");
        return user;
    }

    // Builds the clients made from now on for the service at `base`.
    static void buildFor(const QString& base) {
        BuildConfiguration::setShared(
            std::make_unique<BuildConfiguration>(QVariantMap{{"Configuration", "Debug(Development)"}},
                                                 BundleInfo::ApiHosts{base, base, base, base, base}));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           m_dir.filePath(QStringLiteral("settings")));
        PersistentContainer::Options store;
        store.storePath = m_dir.filePath(QStringLiteral("QVModel.sqlite"));
        CoreDataManager::configure(store);
        KeyChain::setKeyStore(m_keys);
        console::setSink([](const QString&) {});
        NetworkingLogger::setOutput([](const QString&) {});
        QVERIFY(m_service.start());
        const QString base = m_service.baseURL();
        BuildConfiguration::setShared(
            std::make_unique<BuildConfiguration>(QVariantMap{{"Configuration", "Debug(Development)"}},
                                                 BundleInfo::ApiHosts{base, base, base, base, base}));
        DevelopmentTrust::setShared(
            std::make_unique<DevelopmentTrust>(BuildConfiguration::shared(), QList<QSslCertificate>{}));
    }

    void firstRunWipesTheUsers_data() {
        QTest::addColumn<QVariant>("hasRunBefore");
        QTest::addColumn<bool>("wiped");
        QTest::newRow("first launch") << QVariant() << true;
        QTest::newRow("flag false") << QVariant(false) << true;
        QTest::newRow("second launch") << QVariant(true) << false;
    }

    void firstRunWipesTheUsers() {
        QFETCH(QVariant, hasRunBefore);
        QFETCH(bool, wiped);
        CoreDataManager& store = CoreDataManager::shared();
        store.deleteAllUsers();
        store.saveAuthResponse(storedUser(QStringLiteral("Z1")));
        store.saveAuthResponse(storedUser(QStringLiteral("Z2")));
        const QString tag = QStringLiteral("P-Z1||PINHASH");
        m_keys->remove(tag, KeyStore::anyItem);
        QCOMPARE(m_keys->add(tag, SecureBytes(QByteArrayLiteral("private key"))), KeyStore::success);
        {
            QSettings settings;
            settings.clear();
            if (hasRunBefore.isValid())
                settings.setValue(QuorvaleApp::hasRunBeforeKey(), hasRunBefore);
        }

        QuorvaleApp app;
        app.appViewModel.setTestMode(true);

        const auto users = app.appViewModel.userDetailsList.get();
        QVERIFY(users.has_value());
        QCOMPARE(users->size(), wiped ? 0u : 2u);
        QCOMPARE(store.readAuthResponses().value_or(std::vector<AuthResponse>{}).size(), wiped ? 0u : 2u);
        QCOMPARE(QSettings().value(QuorvaleApp::hasRunBeforeKey()).toBool(), true);
        // The keyring keeps its keys either way.
        QVERIFY(m_keys->find(tag).has_value());
    }

    // A run that ended while an enrolment was out left its key behind, and the store's record naming it;
    // the next start deletes that key. Keys the store has no such record of stay, whoever they belong to,
    // and a stored user's key that its enrolment never moved goes to the user's signing tag.
    void startUpSettlesTheDeviceKeysItsStoreKnows() {
        CoreDataManager& store = CoreDataManager::shared();
        store.deleteAllUsers();
        store.saveAuthResponse(storedUser(QStringLiteral("Z1")));
        store.saveAuthResponse(storedUser(QStringLiteral("Z2")));
        const QString owned = QStringLiteral("P-Z1||PINHASH");
        const QString stranded = QStringLiteral("z2@example.com||PINHASH");
        const QString abandoned = QStringLiteral("z9@example.com||PINHASH");
        const QString unrecorded = QStringLiteral("z8@example.com||PINHASH");
        for (const QString& tag : {owned, stranded, abandoned, unrecorded, QStringLiteral("P-Z2||PINHASH")})
            m_keys->remove(tag, KeyStore::anyItem);
        for (const QString& tag : {owned, unrecorded})
            QCOMPARE(m_keys->add(tag, SecureBytes(QByteArrayLiteral("private key"))), KeyStore::success);
        // Only a key moves: an item under the tag that is none would be nobody's.
        QVERIFY(KeyChain::getOrCreateKeyPair(stranded));
        const std::optional<KeyChain::KeyPair> made = KeyChain::getOrCreateKeyPair(abandoned);
        QVERIFY(made);
        const std::optional<qint64> attempt = store.beginKeyAttempt(abandoned);
        QVERIFY(attempt);
        QVERIFY(store.nameAttemptKey(*attempt, KeyChain::keyIdentity(made->publicKey)));
        QSqlQuery endedRun(store.persistentContainer().database());
        QVERIFY(endedRun.prepare(QStringLiteral("UPDATE QVKeyAttempt SET owner = ? WHERE Z_PK = ?")));
        endedRun.addBindValue(QStringLiteral("00000000-0000-0000-0000-000000000000/4242/1"));
        endedRun.addBindValue(*attempt);
        QVERIFY(endedRun.exec());
        QSettings().setValue(QuorvaleApp::hasRunBeforeKey(), true);

        QuorvaleApp app;
        app.appViewModel.setTestMode(true);
        QTRY_VERIFY(store.deviceKeysSettled().isFinished());
        QCOMPARE(m_keys->count(abandoned), 0);
        QCOMPARE(m_keys->count(owned), 1);
        QCOMPARE(m_keys->count(unrecorded), 1);
        QCOMPARE(m_keys->count(stranded), 0);
        QCOMPARE(m_keys->count(QStringLiteral("P-Z2||PINHASH")), 1);
    }

    // The client quits, or its app object goes, while the start-up requests are still out (the service has
    // not answered): the requests end with it. Nothing of theirs is left in the transport, so no coroutine
    // waits on; nothing is printed and no stored user or key is touched.
    // The app talks to a service of its own: the start-up requests of the earlier tests' apps can reach the
    // shared one after those apps have gone, and would be counted here as this app's.
    void quittingWithTheStartUpRequestsOutEndsThem() {
        CoreDataManager& store = CoreDataManager::shared();
        store.deleteAllUsers();
        store.saveAuthResponse(storedUser(QStringLiteral("Z1")));
        const QString tag = QStringLiteral("P-Z1||PINHASH");
        m_keys->remove(tag, KeyStore::anyItem);
        QCOMPARE(m_keys->add(tag, SecureBytes(QByteArrayLiteral("private key"))), KeyStore::success);
        QSettings().setValue(QuorvaleApp::hasRunBeforeKey(), true);
        const QString versionRoute =
            QStringLiteral("/api/v1/desktop/initialize?requestType=version&os=macOS");
        const QString checkRoute = QStringLiteral("/api/v1/desktop/initialize?requestType=usersNotExist");
        IdentityServiceDouble service;
        QVERIFY(service.start());
        service.setReply(versionRoute, ScriptedReply::silence());
        service.setReply(checkRoute, ScriptedReply::silence());
        buildFor(service.baseURL());
        const auto sharedServiceAgain = qScopeGuard([this] { buildFor(m_service.baseURL()); });
        const int before = HttpTransport::shared().liveTransfers();

        QStringList printed;
        const auto quiet = qScopeGuard([] {
            console::setSink([](const QString&) {});
            NetworkingLogger::setOutput([](const QString&) {});
        });
        {
            QuorvaleApp app;
            app.appViewModel.setTestMode(true);
            QTRY_COMPARE(service.received().size(), 2);
            QCOMPARE(HttpTransport::shared().liveTransfers(), before + 2);
            console::setSink([&printed](const QString& line) { printed << line; });
            NetworkingLogger::setOutput([&printed](const QString& line) { printed << line; });
        }
        QCOMPARE(HttpTransport::shared().liveTransfers(), before);
        // Whatever was still queued for the requests finds them over.
        for (int i = 0; i < 5; ++i)
            QCoreApplication::sendPostedEvents();
        QCOMPARE(printed, QStringList());
        QCOMPARE(store.readAuthResponses().value_or(std::vector<AuthResponse>{}).size(), 1u);
        QCOMPARE(m_keys->count(tag), 1);
        QCOMPARE(service.received().size(), 2);
    }

    // The settings say whether the client has run on this account; like its other files they are the
    // user's alone, also when an earlier run left them readable by others.
    void theSettingsArePrivate_data() {
        QTest::addColumn<bool>("leftWide");
        QTest::newRow("made afresh") << false;
        QTest::newRow("left readable by others") << true;
    }

    void theSettingsArePrivate() {
        QFETCH(bool, leftWide);
        const QString file = QSettings().fileName();
        const QString folder = QFileInfo(file).absolutePath();
        QDir(folder).removeRecursively();
        const mode_t before = ::umask(022);
        if (leftWide) {
            QVERIFY(QDir().mkpath(folder));
            QSettings().setValue(QuorvaleApp::hasRunBeforeKey(), true);
        }
        { QuorvaleApp app; }
        ::umask(before);
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, mode_t(0600));
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, mode_t(0700));
        QCOMPARE(QSettings().value(QuorvaleApp::hasRunBeforeKey()).toBool(), true);
    }

    void theClientIsBuiltForTheBuildsHost() {
        QuorvaleApp app;
        QCOMPARE(app.networkService.baseURL, m_service.baseURL());
        QCOMPARE(app.networkService.parameterEncoding, ParameterEncoding::json);
        QCOMPARE(app.networkService.logLevel(), NetworkingLogLevel::debug);
        QCOMPARE(&app.repository.webservice, &app.networkService);
        QCOMPARE(app.appViewModel.repository(), static_cast<VerifyCodeHomeAPIRepository*>(&app.repository));
    }

    void universalLink_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("stored");
        QTest::newRow("sign-in link")
            << "quorvaleid://sign-in?id=K7Q2M9" << QStringList{"closeOthers", "restore"} << true;
        QTest::newRow("link without a code")
            << "quorvaleid:open" << QStringList{"closeOthers", "restore"} << true;
        QTest::newRow("not a URL") << "" << QStringList{} << false;
    }

    void universalLink() {
        QFETCH(QString, link);
        QFETCH(QStringList, calls);
        QFETCH(bool, stored);
        QuorvaleApp app;
        RecordingWindowController windows;
        app.appViewModel.setWindowController(&windows);
        app.appViewModel.windowMinimized = true;

        app.handleUniversalLink(link.isEmpty() ? std::nullopt : std::optional(QUrl(link)));

        QCOMPARE(windows.calls, calls);
        QCOMPARE(app.appViewModel.deepLink.get(), stored ? std::optional(QUrl(link)) : std::nullopt);
        QCOMPARE(app.appViewModel.windowMinimized.get(), !stored);
    }

    // Another local user must not be able to listen first: the socket goes only into a folder of this user's
    // alone, otherwise the client runs without it.
    void theSocketGoesOnlyIntoAPrivateFolder_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("listens");
        QTest::newRow("the user's own, mode 0700") << "private" << true;
        QTest::newRow("readable by others") << "open" << false;
        QTest::newRow("shared, like the temporary folder") << "shared" << false;
        QTest::newRow("a link to the user's own folder") << "link" << false;
        QTest::newRow("another user's") << "foreign" << false;
        QTest::newRow("no runtime folder: not the temporary folder instead") << "none" << false;
    }

    void theSocketGoesOnlyIntoAPrivateFolder() {
        QFETCH(QString, folder);
        QFETCH(bool, listens);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(folder);
        const auto make = [](const QString& at, mode_t mode) {
            return QDir().mkpath(at) && ::chmod(QFile::encodeName(at).constData(), mode) == 0;
        };
        QString socketPath = path + QStringLiteral("/quorvaleid.socket");
        struct RestoredVariable {
            const char* name;
            QByteArray value = qgetenv(name);
            bool wasSet = qEnvironmentVariableIsSet(name);
            ~RestoredVariable() { wasSet ? qputenv(name, value) : qunsetenv(name); }
        } runtime{"XDG_RUNTIME_DIR"}, temporary{"TMPDIR"};
        if (folder == "private") {
            QVERIFY(make(path, 0700));
        } else if (folder == "open") {
            QVERIFY(make(path, 0755));
        } else if (folder == "shared") {
            QVERIFY(make(path, 01777));
        } else if (folder == "link") {
            QVERIFY(make(dir.filePath("own"), 0700));
            QVERIFY(QFile::link(dir.filePath("own"), path));
        } else if (folder == "foreign") {
            if (::geteuid() != 0)
                QSKIP("only the superuser can give a folder to another user");
            QVERIFY(make(path, 0700));
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        } else if (folder == "none") {
            // The runtime folder is unusable, and so is the platform's own in the temporary folder.
            QVERIFY(make(dir.filePath("runtime"), 0755));
            QVERIFY(make(path, 01777));
            QFile blocker(path + QStringLiteral("/runtime-") +
                          QString::fromLocal8Bit(getpwuid(::geteuid())->pw_name));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath("runtime")));
            qputenv("TMPDIR", QFile::encodeName(path));
            socketPath.clear();
        }

        SingleInstance instance(socketPath);
        const SingleInstance::Role role = instance.claim(std::nullopt);
        QCOMPARE(role, listens ? SingleInstance::Role::primary : SingleInstance::Role::alone);
        QCOMPARE(instance.errorString().isEmpty(), listens);
        // Refused, it leaves nothing behind where it would have listened.
        if (!listens)
            QVERIFY(QDir(path)
                        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                        .filter(QStringLiteral("quorvaleid"))
                        .isEmpty());
    }

    void linkFromArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("link");
        QTest::newRow("none") << QStringList{"quorvale"} << "";
        QTest::newRow("link") << QStringList{"quorvale", "quorvaleid://sign-in?id=AB12CD"}
                              << "quorvaleid://sign-in?id=AB12CD";
        QTest::newRow("scheme in capitals")
            << QStringList{"quorvale", "QUORVALEID:?id=AB12CD"} << "quorvaleid:?id=AB12CD";
        QTest::newRow("after an option")
            << QStringList{"quorvale", "--verbose", "quorvaleid:?id=1"} << "quorvaleid:?id=1";
        QTest::newRow("web link ignored") << QStringList{"quorvale", "https://example.com/?id=AB12CD"} << "";
        QTest::newRow("file ignored") << QStringList{"quorvale", "/tmp/quorvaleid:x"} << "";
        QTest::newRow("program name is no link") << QStringList{"quorvaleid:?id=1"} << "";
    }

    void linkFromArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, link);
        const std::optional<QUrl> found = SingleInstance::linkFromArguments(arguments);
        QCOMPARE(found.has_value(), !link.isEmpty());
        if (found)
            QCOMPARE(found->toString(), link);
    }

    // Where nobody can see a box, the keyring refusal must not wait for a click.
    void aBoxReachesSomeoneOnlyOnADisplay_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<bool>("canShow");
        QTest::newRow("X display") << "xcb" << QStringList{"DISPLAY=:0"} << true;
        QTest::newRow("Wayland display") << "wayland" << QStringList{"WAYLAND_DISPLAY=wayland-0"} << true;
        QTest::newRow("offscreen platform") << "offscreen" << QStringList{"DISPLAY=:0"} << false;
        QTest::newRow("minimal platform") << "minimal" << QStringList{"DISPLAY=:0"} << false;
        QTest::newRow("offscreen asked for, with options")
            << "xcb" << QStringList{"DISPLAY=:0", "QT_QPA_PLATFORM=offscreen:fontengine=freetype"} << false;
        QTest::newRow("no display named") << "xcb" << QStringList{} << false;
        QTest::newRow("empty display names") << "xcb" << QStringList{"DISPLAY=", "WAYLAND_DISPLAY="} << false;
    }

    void aBoxReachesSomeoneOnlyOnADisplay() {
        QFETCH(QString, platform);
        QFETCH(QStringList, environment);
        QFETCH(bool, canShow);
        QProcessEnvironment env;
        for (const QString& pair : environment)
            env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        QCOMPARE(Launcher::canShowDialogs(platform, env), canShow);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
