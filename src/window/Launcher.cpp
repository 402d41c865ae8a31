#include "Launcher.h"

#include "KeyringCheck.h"
#include "SingleInstance.h"
#include "StoreLock.h"
#include "storage/CoreDataManager.h"
#include "ui/controls/Artwork.h"

#include <QApplication>
#include <QFuture>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>
#include <QPromise>
#include <QThreadPool>
#include <QWidget>

#include <QCoroFuture>
#include <QCoroTask>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

QByteArray sessionNeededLine(const QString& why) {
    return (QStringLiteral("QuorvaleID needs a graphical desktop session: ") + why + QStringLiteral(".\n"))
        .toLocal8Bit();
}

const QString noDisplayNamed = QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set");

// The platforms asked for ("xcb", "wayland;xcb", "eglfs:option") and where; none when the session decides.
struct PlatformChoice {
    QString platforms;
    QString chosenBy;
};

PlatformChoice chosenPlatform(int argc, char* argv[]) {
    // Qt goes by the last -platform.
    for (int i = argc - 2; i >= 1; --i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return {QString::fromLocal8Bit(argv[i + 1]), QStringLiteral("-platform")};
    return {qEnvironmentVariable("QT_QPA_PLATFORM"), QStringLiteral("QT_QPA_PLATFORM")};
}

// The line for a platform that cannot start, naming what it was to open: the display that DISPLAY or
// WAYLAND_DISPLAY names, or a platform of another kind by its name.
QByteArray unopenedSessionLine(const PlatformChoice& choice, const QProcessEnvironment& environment) {
    const auto display = [&environment](const QString& kind, const QString& variable) {
        const QString name = environment.value(variable);
        return name.isEmpty() ? QStringLiteral("the default %1 display (%2 is not set)").arg(kind, variable)
                              : QStringLiteral("the %1 display %2 (%3)").arg(kind, name, variable);
    };
    const QString x = display(QStringLiteral("X"), QStringLiteral("DISPLAY"));
    const QString wayland = display(QStringLiteral("Wayland"), QStringLiteral("WAYLAND_DISPLAY"));
    QStringList unopened;
    if (choice.platforms.isEmpty()) {
        // The session's own choice: the displays it names.
        if (!environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty())
            unopened << wayland;
        if (!environment.value(QStringLiteral("DISPLAY")).isEmpty())
            unopened << x;
    }
    for (const QString& platform : choice.platforms.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString name = platform.section(QLatin1Char(':'), 0, 0).trimmed();
        if (name == QLatin1String("xcb"))
            unopened << x;
        else if (name.startsWith(QLatin1String("wayland")))
            unopened << wayland;
        else
            unopened << QStringLiteral("the platform %1 (%2)").arg(name, choice.chosenBy);
    }
    unopened.removeDuplicates();
    QString what;
    if (unopened.isEmpty())
        what = noDisplayNamed;
    else if (unopened.size() == 1)
        what = unopened.first() + QStringLiteral(" cannot be opened");
    else if (unopened.size() == 2)
        what = QStringLiteral("neither %1 nor %2 can be opened").arg(unopened[0], unopened[1]);
    else
        what = QStringLiteral("none of %1 can be opened").arg(unopened.join(QStringLiteral(", ")));
    return sessionNeededLine(what);
}

// What Qt says while its platform starts, held back until it is known whether it started.
struct HeldMessage {
    QtMsgType type;
    QByteArray file;
    QByteArray function;
    QByteArray category;
    int line;
    QString text;
};

struct PlatformStart {
    QMutex mutex;
    QByteArray failureLine;
    std::vector<HeldMessage> held;
};

PlatformStart& platformStart() {
    static PlatformStart start;
    return start;
}

void holdPlatformMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    PlatformStart& start = platformStart();
    if (type == QtFatalMsg) {
        // Qt would abort next, with a core dump and advice to reinstall, for what is only a display that
        // is not there. The held messages go with it: they would only say the same in Qt's words.
        std::fputs(start.failureLine.constData(), stderr);
        std::fflush(stderr);
        std::_Exit(Launcher::noGraphicalSessionExitCode);
    }
    const QMutexLocker lock(&start.mutex);
    start.held.push_back({type, QByteArray(context.file), QByteArray(context.function),
                          QByteArray(context.category), context.line, text});
}

const char* orNull(const QByteArray& text) {
    return text.isNull() ? nullptr : text.constData();
}

} // namespace

void Launcher::nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvale"));
    QCoreApplication::setApplicationName(QStringLiteral("QuorvaleID"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("QuorvaleID"));
    // The desktop ties the windows to their launcher by this name: QuorvaleID.desktop, whose StartupWMClass
    // is the windows' X11 class, the application name.
    QGuiApplication::setDesktopFileName(QStringLiteral("QuorvaleID"));
}

bool Launcher::checkGraphicalSession(int argc, char* argv[]) {
    if (!chosenPlatform(argc, argv).platforms.isEmpty() ||
        namesADisplay(QProcessEnvironment::systemEnvironment()))
        return true;
    std::fputs(sessionNeededLine(noDisplayNamed).constData(), stderr);
    std::fflush(stderr);
    return false;
}

std::unique_ptr<QApplication> Launcher::startApplication(int& argc, char* argv[]) {
    PlatformStart& start = platformStart();
    // Worked out now: QApplication takes -platform out of the arguments.
    start.failureLine =
        unopenedSessionLine(chosenPlatform(argc, argv), QProcessEnvironment::systemEnvironment());
    const QtMessageHandler previous = qInstallMessageHandler(holdPlatformMessage);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    // The logo, as the launcher shows it too; the window and its message boxes carry it.
    constexpr int iconSide = 256;
    QApplication::setWindowIcon(
        artworkIcon(QStringLiteral("logoHeader"), QSize(iconSide, iconSide), {}, 1.0));
    std::vector<HeldMessage> held;
    {
        const QMutexLocker lock(&start.mutex);
        held.swap(start.held);
    }
    for (const HeldMessage& message : held) {
        const QMessageLogContext context(orNull(message.file), message.line, orNull(message.function),
                                         orNull(message.category));
        previous(message.type, context, message.text);
    }
    return application;
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
        // It may still take the link once it answers again: the link waits in its connection.
        refuse(
            link ? QStringLiteral("QuorvaleID is already running but is not answering, and has not taken the "
                                  "link yet. Wait until its window responds, or close it before you open "
                                  "QuorvaleID again.")
                 : QStringLiteral("QuorvaleID is already running but is not answering. Wait until its window "
                                  "responds, or close it before you open QuorvaleID again."),
            handOverFailedExitCode, QStringLiteral("notAnswering"));
        return m_application.exec();
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
    if (openStore())
        start(link);
    return m_application.exec();
}

bool Launcher::openStore() {
    try {
        CoreDataManager::shared();
        return true;
    } catch (const PersistentStoreError& error) {
        // The store has said so on standard error already, in its own line.
        // The path on a line of its own: within a sentence the box breaks it at a slash.
        showRefusal(
            QStringLiteral("QuorvaleID cannot open its store of enrolled users:\n%1\n\n%2.\n\nThe file "
                           "has been left as it is.")
                .arg(error.storePath(), error.reason()),
            storeUnavailableExitCode, QStringLiteral("storeUnavailable"));
        return false;
    }
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
    showRefusal(problem, exitCode, boxName);
}

void Launcher::showRefusal(const QString& problem, int exitCode, const QString& boxName) {
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
