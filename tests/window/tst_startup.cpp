// The application's start-up: the first-run wipe, the crash-reporting set-up and links.
#include "IdentityServiceDouble.h"
#include "RecordingWindowController.h"
#include "api/DevelopmentTrust.h"
#include "platform/Console.h"
#include "platform/MemoryKeyStore.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "window/Launcher.h"
#include "window/QuorvaleApp.h"
#include "window/SingleInstance.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

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

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("settings")));
        PersistentContainer::Options store;
        store.storePath = m_dir.filePath(QStringLiteral("QVModel.sqlite"));
        CoreDataManager::configure(store);
        KeyChain::setKeyStore(m_keys);
        console::setSink([](const QString&) {});
        NetworkingLogger::setOutput([](const QString&) {});
        QVERIFY(m_service.start());
        const QString base = m_service.baseURL();
        BuildConfiguration::setShared(std::make_unique<BuildConfiguration>(
            QVariantMap{{"Configuration", "Debug(Development)"}}, BundleInfo::ApiHosts{base, base, base, base, base}));
        DevelopmentTrust::setShared(std::make_unique<DevelopmentTrust>(BuildConfiguration::shared(), QList<QSslCertificate>{}));
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
        m_keys->remove(tag);
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
        QCOMPARE(store.fetchAuthResponses().size(), wiped ? 0u : 2u);
        QCOMPARE(QSettings().value(QuorvaleApp::hasRunBeforeKey()).toBool(), true);
        // The keyring keeps its keys either way.
        QVERIFY(m_keys->find(tag).has_value());
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
        QTest::newRow("sign-in link") << "quorvaleid://sign-in?id=K7Q2M9"
                                      << QStringList{"closeOthers", "restore"} << true;
        QTest::newRow("link without a code") << "quorvaleid:open" << QStringList{"closeOthers", "restore"} << true;
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

    void linkFromArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("link");
        QTest::newRow("none") << QStringList{"quorvale"} << "";
        QTest::newRow("link") << QStringList{"quorvale", "quorvaleid://sign-in?id=AB12CD"}
                              << "quorvaleid://sign-in?id=AB12CD";
        QTest::newRow("scheme in capitals") << QStringList{"quorvale", "QUORVALEID:?id=AB12CD"} << "quorvaleid:?id=AB12CD";
        QTest::newRow("after an option") << QStringList{"quorvale", "--verbose", "quorvaleid:?id=1"} << "quorvaleid:?id=1";
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
