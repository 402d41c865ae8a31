#include "Launcher.h"

#include "KeyringCheck.h"
#include "SingleInstance.h"
#include "StoreLock.h"

#include <QApplication>
#include <QFuture>
#include <QMessageBox>
#include <QPromise>
#include <QThreadPool>
#include <QWidget>

#include <QCoroFuture>
#include <QCoroTask>

#include <cstdio>
#include <cstring>

namespace {

QCoro::Task<std::optional<QString>> checkOffThread(std::function<std::optional<QString>()> check) {
    auto promise = std::make_shared<QPromise<std::optional<QString>>>();
    QFuture<std::optional<QString>> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, check = std::move(check)] {
        promise->addResult(check());
        promise->finish();
    });
    co_return co_await future;
}

bool namesADisplay(const QProcessEnvironment& environment) {
    return !environment.value(QStringLiteral("DISPLAY")).isEmpty() ||
           !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
}

} // namespace

void Launcher::nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvale"));
    QCoreApplication::setApplicationName(QStringLiteral("QuorvaleID"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("QuorvaleID"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvaleid"));
}

bool Launcher::checkGraphicalSession(int argc, char* argv[]) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty() || namesADisplay(environment))
        return true;
    std::fprintf(stderr,
                 "QuorvaleID needs a graphical desktop session: neither DISPLAY nor WAYLAND_DISPLAY is "
                 "set.\n");
    std::fflush(stderr);
    return false;
}

bool Launcher::canShowDialogs(const QString& platformName, const QProcessEnvironment& environment) {
    const auto headless = [](const QString& platform) {
        // "offscreen:fontengine=freetype" names the platform before its options.
        const QString name = platform.section(QLatin1Char(':'), 0, 0).trimmed();
        return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
    };
    if (headless(platformName) || headless(environment.value(QStringLiteral("QT_QPA_PLATFORM"))))
        return false;
    return namesADisplay(environment);
}

Launcher::Launcher(QApplication& application, Options options)
    : m_application(application)
    , m_options(std::move(options)) {
    if (!m_options.keyringProblem)
        m_options.keyringProblem = keyringProblem;
    if (!m_options.canShowDialogs)
        m_options.canShowDialogs = [] {
            return canShowDialogs(QGuiApplication::platformName(), QProcessEnvironment::systemEnvironment());
        };
}

// The window goes before the application it shows.
Launcher::~Launcher() {
    m_window.reset();
    m_app.reset();
}

int Launcher::exec() {
    const std::optional<QUrl> link = SingleInstance::linkFromArguments(m_application.arguments());
    m_instance = std::make_unique<SingleInstance>(m_options.socketPath);
    const SingleInstance::Role role = m_instance->claim(link);
    switch (role) {
    case SingleInstance::Role::handedOver:
        return 0;
    case SingleInstance::Role::unanswered:
        std::fprintf(stderr, "QuorvaleID is already running but did not answer: %s\n",
                     qPrintable(m_instance->errorString()));
        return handOverFailedExitCode;
    case SingleInstance::Role::alone:
    case SingleInstance::Role::primary:
        break;
    }
    // Where the socket is refused, this lock is what keeps a second window off the store.
    m_storeLock = std::make_unique<StoreLock>(m_options.storePath);
    switch (m_storeLock->take()) {
    case StoreLock::Outcome::held:
        break;
    case StoreLock::Outcome::takenByAnother:
        refuse(QStringLiteral("QuorvaleID is already running. Use its window, or close it before you open "
                              "QuorvaleID again."),
               alreadyRunningExitCode, QStringLiteral("alreadyRunning"));
        return m_application.exec();
    case StoreLock::Outcome::unavailable:
        std::fprintf(stderr, "QuorvaleID runs without its store lock: %s\n",
                     qPrintable(m_storeLock->errorString()));
        break;
    }
    if (role == SingleInstance::Role::alone)
        std::fprintf(stderr, "QuorvaleID runs without its single-instance socket: %s\n",
                     qPrintable(m_instance->errorString()));
    start(link);
    return m_application.exec();
}

QCoro::Task<void> Launcher::start(std::optional<QUrl> link) {
    const std::optional<QString> problem = co_await checkOffThread(m_options.keyringProblem);
    if (problem) {
        refuse(*problem, keyringUnavailableExitCode, QStringLiteral("keyringProblem"));
        co_return;
    }
    m_app = std::make_unique<QuorvaleApp>(m_options.app);
    m_window = m_options.makeWindow(*m_app);
    m_window->show();
    connect(m_instance.get(), &SingleInstance::linkReceived, m_app.get(),
            [app = m_app.get()](const auto& later) {
                // A later start without a link only asks for the window.
                if (later)
                    app->handleUniversalLink(later);
                else
                    app->appViewModel.restoreWindow();
            });
    m_app->handleUniversalLink(link);
    emit started();
}

void Launcher::refuse(const QString& problem, int exitCode, const QString& boxName) {
    std::fprintf(stderr, "%s\n", qPrintable(problem));
    std::fflush(stderr);
    // Nobody could ever click a box that no display shows: the line above is the whole answer.
    // Queued: the refusal may come before the event loop has started.
    if (!m_options.canShowDialogs()) {
        QMetaObject::invokeMethod(
            &m_application, [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
        return;
    }
    // Closing the box ends the program with the failure, not with the plain end of the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    auto* box =
        new QMessageBox(QMessageBox::Critical, QStringLiteral("QuorvaleID"), problem, QMessageBox::Ok);
    box->setObjectName(boxName);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, &m_application, [exitCode] { QCoreApplication::exit(exitCode); });
    box->open();
}
