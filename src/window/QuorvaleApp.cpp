#include "QuorvaleApp.h"

#include "api/DevelopmentTrust.h"
#include "api/Environment.h"
#include "app/WindowController.h"
#include "platform/PrivateFiles.h"
#include "storage/CoreDataManager.h"

#include <QFileInfo>
#include <QSettings>

#include <cstdio>

namespace {

// Reading the build configuration is the first act of a run: a damaged one stops the program here,
// before any other object exists.
QString apiBaseURL() {
    return BuildConfiguration::shared().apiBaseURL();
}

} // namespace

QuorvaleApp::QuorvaleApp()
    : QuorvaleApp(Options{}) {}

QuorvaleApp::QuorvaleApp(const Options& options, QObject* parent)
    : QObject(parent)
    , networkService(apiBaseURL())
    , repository(networkService)
    , appViewModel(&repository) {
    networkService.setLogLevel(NetworkingLogLevel::debug);
    networkService.parameterEncoding = ParameterEncoding::json;
    networkService.sessionConfiguration =
        DevelopmentTrust::shared().sessionConfiguration(QUrl(networkService.baseURL));

    // An enrolment cut short by the end of its run left a key that nobody can ever sign with, and a removal
    // whose deletion the keyring refused left one too: the store keeps a record naming each, and they go.
    // Users of earlier versions get their key named or moved (a signature for such a user reads its record
    // again). Before the first-run wipe, which leaves the keyring alone.
    CoreDataManager::shared().settleDeviceKeys();
    wipeOnFirstRun();

    if (!CrashReporter::configure(options.crashReportingOptionsPath))
        qFatal("%s", qPrintable(crashReportingFatalMessage()));
}

QuorvaleApp::~QuorvaleApp() = default;

void QuorvaleApp::wipeOnFirstRun() {
    QSettings settings;
    // Owner-only like the client's other files, and narrowed when an earlier run left them wider. The file
    // exists before the first write, so the write keeps its mode.
    const QString file = settings.fileName();
    privatefiles::makeFolder(QFileInfo(file).absolutePath());
    privatefiles::prepareFile(file);
    if (settings.value(hasRunBeforeKey(), false).toBool())
        return;
    // The keys in the keyring stay; only the store is emptied.
    appViewModel.wipeAllUsers();
    settings.setValue(hasRunBeforeKey(), true);
    settings.sync();
    privatefiles::narrowFile(file);
}

void QuorvaleApp::handleUniversalLink(const std::optional<QUrl>& link) {
    if (!link || !link->isValid())
        return;
    if (WindowController* windows = appViewModel.windowController())
        windows->closeAllButFirstWindow();
    appViewModel.deepLink = *link;
    appViewModel.restoreWindow();
}
