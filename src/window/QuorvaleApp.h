#pragma once

#include "api/Repository.h"
#include "app/AppViewModel.h"
#include "networking/NetworkingClient.h"
#include "platform/CrashReporting.h"

#include <QObject>
#include <QUrl>

#include <optional>

// The application: the long-lived objects of one run, built in a fixed order (the HTTP client for the
// build's API host, the repository over it, the app state over the repository), the first-run wipe and
// the crash-reporting set-up. The window is built on top of it by the entry.
class QuorvaleApp : public QObject {
    Q_OBJECT

public:
    struct Options {
        // The crash-reporting options file; a missing or unreadable one stops the program.
        QString crashReportingOptionsPath = CrashReporter::bundledOptionsPath();
    };

    QuorvaleApp();
    explicit QuorvaleApp(const Options& options, QObject* parent = nullptr);
    ~QuorvaleApp() override;

    QuorvaleApp(const QuorvaleApp&) = delete;
    QuorvaleApp& operator=(const QuorvaleApp&) = delete;

    // The user-settings flag that marks the first run.
    static QString hasRunBeforeKey() { return QStringLiteral("hasRunBefore"); }
    static QString crashReportingFatalMessage() {
        return QStringLiteral("Could not load Firebase configuration file.");
    }

    // In the order they are built; they go in the opposite order. The repository and the client each
    // cancel the requests they still have out when they go, and those calls resume at once, finding the app
    // state already gone: a run that ends with requests out leaves nothing waiting and changes nothing.
    NetworkingClient networkService;
    Repository repository;
    AppViewModel appViewModel;

    // A link that opened the program, or that a second start handed over: the window keeps only its
    // first window, remembers the link for the home screen and comes to the front. Anything but a URL
    // is ignored.
    void handleUniversalLink(const std::optional<QUrl>& link);

private:
    void wipeOnFirstRun();
};
