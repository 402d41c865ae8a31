#pragma once

#include "QuorvaleApp.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace QCoro {
template <typename T> class Task;
}

class QApplication;
class QWidget;
class SingleInstance;
class StoreLock;

// What the program does from its start to its end: one running client per user (a later start hands its
// link over) and per store, the keyring check, the application and its window, and links from the command
// line and from later starts.
class Launcher : public QObject {
    Q_OBJECT

public:
    struct Options {
        // The single-instance socket; empty for the one in the user's runtime folder.
        QString socketPath;
        // The user store's file, beside which the running client holds its lock; empty for the default one.
        QString storePath;
        // Why keys cannot be kept, in words for the user; runs off the UI thread.
        std::function<std::optional<QString>()> keyringProblem;
        // Whether a message box can reach anyone; empty for what the platform and environment say.
        std::function<bool()> canShowDialogs;
        // The one window over the application.
        std::function<std::unique_ptr<QWidget>(QuorvaleApp&)> makeWindow;
        QuorvaleApp::Options app;
    };

    // The exit statuses of a start that does not run the client (docs/ARCHITECTURE.md lists them).
    static constexpr int storeUnavailableExitCode = 66;
    static constexpr int keyringUnavailableExitCode = 69;
    static constexpr int alreadyRunningExitCode = 75;
    static constexpr int handOverFailedExitCode = alreadyRunningExitCode;
    static constexpr int noGraphicalSessionExitCode = 78;

    // Names the application, so that settings and data folders are its own. Call before QApplication.
    static void nameApplication();

    // Call before QApplication, which aborts when it finds no display. False, after one plain line on
    // standard error, when no platform is chosen (by -platform or QT_QPA_PLATFORM) and neither DISPLAY nor
    // WAYLAND_DISPLAY names a display.
    static bool checkGraphicalSession(int argc, char* argv[]);

    // The application over the platform that -platform, QT_QPA_PLATFORM or the session chose. Where that
    // platform cannot start (the display named cannot be opened, say), Qt would abort; the process ends
    // instead with one plain line naming what could not be opened, and noGraphicalSessionExitCode. Qt's
    // own messages of that moment are held back, and passed on when the platform starts after all.
    static std::unique_ptr<QApplication> startApplication(int& argc, char* argv[]);

    // Whether a window can reach a person: not on the offscreen or minimal platform (by its name or by
    // QT_QPA_PLATFORM), nor when neither DISPLAY nor WAYLAND_DISPLAY names a display.
    static bool canShowDialogs(const QString& platformName, const QProcessEnvironment& environment);

    Launcher(QApplication& application, Options options);
    ~Launcher() override;

    // Runs the program and answers its exit code.
    int exec();

    // Built once the keyring check has passed.
    QuorvaleApp* app() const { return m_app.get(); }
    QWidget* window() const { return m_window.get(); }

signals:
    // The window is shown.
    void started();

private:
    QCoro::Task<void> start(std::optional<QUrl> link);
    // Opens the user store before anything asks the keyring: a store that cannot be opened must not cost the
    // user a keyring prompt. False once the refusal is under way.
    bool openStore();
    // `problem` on standard error, then showRefusal().
    void refuse(const QString& problem, int exitCode, const QString& boxName);
    // Ends the program with `exitCode`: at once where no box can reach anyone, else once the box showing
    // `problem` is closed.
    void showRefusal(const QString& problem, int exitCode, const QString& boxName);

    QApplication& m_application;
    Options m_options;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<StoreLock> m_storeLock;
    std::unique_ptr<QuorvaleApp> m_app;
    std::unique_ptr<QWidget> m_window;
};
