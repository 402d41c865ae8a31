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

// What the program does from its start to its end: one running client per user (a later start hands its
// link over), the keyring check, the application and its window, and links from the command line and
// from later starts.
class Launcher : public QObject {
    Q_OBJECT

public:
    struct Options {
        // The single-instance socket; empty for the one in the user's runtime folder.
        QString socketPath;
        // Why keys cannot be kept, in words for the user; runs off the UI thread.
        std::function<std::optional<QString>()> keyringProblem;
        // Whether a message box can reach anyone; empty for what the platform and environment say.
        std::function<bool()> canShowDialogs;
        // The one window over the application.
        std::function<std::unique_ptr<QWidget>(QuorvaleApp&)> makeWindow;
        QuorvaleApp::Options app;
    };

    static constexpr int keyringUnavailableExitCode = 69;
    static constexpr int handOverFailedExitCode = 75;

    // Names the application, so that settings and data folders are its own. Call before QApplication.
    static void nameApplication();

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
    void refuse(const QString& problem);

    QApplication& m_application;
    Options m_options;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<QuorvaleApp> m_app;
    std::unique_ptr<QWidget> m_window;
};
