#include "Launcher.h"

#include "KeyringCheck.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QFuture>
#include <QMessageBox>
#include <QPromise>
#include <QThreadPool>
#include <QWidget>

#include <QCoroFuture>
#include <QCoroTask>

#include <cstdio>

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

} // namespace

void Launcher::nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvale"));
    QCoreApplication::setApplicationName(QStringLiteral("QuorvaleID"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("QuorvaleID"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvaleid"));
}

bool Launcher::canShowDialogs(const QString& platformName, const QProcessEnvironment& environment) {
    const auto headless = [](const QString& platform) {
        // "offscreen:fontengine=freetype" names the platform before its options.
        const QString name = platform.section(QLatin1Char(':'), 0, 0).trimmed();
        return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
    };
    if (headless(platformName) || headless(environment.value(QStringLiteral("QT_QPA_PLATFORM"))))
        return false;
    return !environment.value(QStringLiteral("DISPLAY")).isEmpty() ||
           !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
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
    switch (m_instance->claim(link)) {
    case SingleInstance::Role::handedOver:
        return 0;
    case SingleInstance::Role::unanswered:
        std::fprintf(stderr, "QuorvaleID is already running but did not answer: %s\n",
                     qPrintable(m_instance->errorString()));
        return handOverFailedExitCode;
    case SingleInstance::Role::alone:
        std::fprintf(stderr, "QuorvaleID runs without its single-instance socket: %s\n",
                     qPrintable(m_instance->errorString()));
        break;
    case SingleInstance::Role::primary:
        break;
    }
    start(link);
    return m_application.exec();
}

QCoro::Task<void> Launcher::start(std::optional<QUrl> link) {
    const std::optional<QString> problem = co_await checkOffThread(m_options.keyringProblem);
    if (problem) {
        refuse(*problem);
        co_return;
    }
    m_app = std::make_unique<QuorvaleApp>(m_options.app);
    m_window = m_options.makeWindow(*m_app);
    m_window->show();
    connect(m_instance.get(), &SingleInstance::linkReceived, m_app.get(), [app = m_app.get()](const auto& later) {
        // A later start without a link only asks for the window.
        if (later)
            app->handleUniversalLink(later);
        else
            app->appViewModel.restoreWindow();
    });
    m_app->handleUniversalLink(link);
    emit started();
}

void Launcher::refuse(const QString& problem) {
    std::fprintf(stderr, "%s\n", qPrintable(problem));
    std::fflush(stderr);
    // Nobody could ever click a box that no display shows: the line above is the whole answer.
    // Queued: the check may have answered before the event loop started.
    if (!m_options.canShowDialogs()) {
        QMetaObject::invokeMethod(
            &m_application, [] { QCoreApplication::exit(keyringUnavailableExitCode); }, Qt::QueuedConnection);
        return;
    }
    // Closing the box ends the program with the failure, not with the plain end of the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("QuorvaleID"), problem, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("keyringProblem"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, &m_application, [] { QCoreApplication::exit(keyringUnavailableExitCode); });
    box->open();
}
