// How long the window's event loop stands still while a registration runs through the registration screen
// (the new PIN typed, the sixth confirmation digit submitting, the device key created, the device
// registered against the identity-service double on loopback). A 1 ms timer records the longest gap between
// its ticks; the busy indicator's steps show it kept moving. For scale: the same meter over an idle loop,
// the main thread's own store write after the reply, and the RSA-2048 key generation run on the calling
// thread.
//   enrolment_stall_bench [runs]
#include "api/Repository.h"
#include "app/AppViewModel.h"
#include "flows/CreateAccountViewModel.h"
#include "networking/NetworkingClient.h"
#include "platform/Console.h"
#include "platform/MemoryKeyStore.h"
#include "storage/AppLogger.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "support/IdentityServiceDouble.h"
#include "support/ManualClock.h"
#include "support/SignatureCheckingService.h"
#include "ui/controls/LoadingCircleBlinks.h"
#include "ui/controls/LoadingIndicator.h"
#include "ui/controls/SemanticColor.h"
#include "ui/screens/CreateAccountView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

QTextStream out(stdout);

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Waits on the event loop until `done` holds; a benchmark may spin the loop, the program never does.
void spinUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The longest time the event loop went without running a 1 ms timer, while it runs.
class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const double gap = double(m_clock.nsecsElapsed()) / 1e6;
            m_longest = std::max(m_longest, gap);
            m_clock.restart();
        });
    }
    void start() {
        m_longest = 0;
        m_clock.start();
        m_timer.start();
    }
    double stop() {
        m_timer.stop();
        return m_longest;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_longest = 0;
};

void typeDigits(AppViewModel& app, Field field, const QString& digits) {
    app.setFocusedField(field);
    spinUntil([&] { return app.focusedFieldPublisher.get() == field && QApplication::focusWidget(); });
    for (const QChar digit : digits)
        QTest::keyClick(QApplication::focusWidget(), digit.toLatin1());
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int runs = std::max(1, argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 8);

    QTemporaryDir dir;
    PersistentContainer::Options options;
    options.storePath = dir.filePath(QStringLiteral("QVModel.sqlite"));
    CoreDataManager::configure(options);
    AppLogger::shared().setLogFilePath(dir.filePath(QStringLiteral("quorvaleapp.log")));
    KeyChain::setKeyStore(std::make_shared<MemoryKeyStore>());
    console::setSink([](const QString&) {});

    IdentityServiceDouble service;
    service.start();
    service.setRecording(false);
    SignatureCheckingService checks(service);
    service.setReply(QStringLiteral("/api/v1/user/registration/validate"),
                     ScriptedReply::json(200, QJsonDocument(QJsonObject{{"errorCode", 0}, {"resultCode", 0}})
                                                  .toJson(QJsonDocument::Compact)));
    NetworkingClient client(service.baseURL());
    client.parameterEncoding = ParameterEncoding::json;
    Repository repository(client);
    ManualClock clock;
    AppViewModel appViewModel(nullptr, clock);
    appViewModel.setTestMode(true);

    const QString pin = QStringLiteral("135792");
    std::vector<double> stalls;
    std::vector<double> durations;
    int totalSteps = 0;
    StallMeter meter;
    for (int run = 0; run < runs; ++run) {
        checks.enrolAs(QStringLiteral("S-%1").arg(run), QStringLiteral("P-%1").arg(run),
                       QStringLiteral("ORG1"));
        QWidget window;
        window.resize(800, 400);
        auto* layout = new QVBoxLayout(&window);
        auto* view = new CreateAccountView(
            appViewModel, std::make_unique<CreateAccountViewModel>(&repository, appViewModel, clock));
        layout->addWidget(view);
        // The shell's busy overlay: the indicator animates while the app state is loading.
        auto* indicator = new LoadingIndicator(LoadingIndicator::LoadingAnimation::circleBlinks,
                                               LoadingIndicator::Size::medium, LoadingIndicator::Speed::fast,
                                               namedColor(QStringLiteral("Yellow")), &window);
        indicator->hide();
        window.show();
        window.activateWindow();

        CreateAccountViewModel& flow = view->viewModel();
        flow.email = QStringLiteral("user%1@example.com").arg(run);
        // The service takes an activation code once.
        flow.activationCode = QString::number(482913 + run);
        flow.isChecked = true;
        view->submit();
        spinUntil([&] {
            return (view->stage() == CreateAccountView::Stage::pin || !flow.errorMessage.get().isEmpty()) &&
                   !appViewModel.isLoading.get();
        });
        if (view->stage() != CreateAccountView::Stage::pin) {
            out << "validation " << run << " failed: " << flow.errorMessage.get() << "\n";
            return 1;
        }
        typeDigits(appViewModel, Field::createPin, pin);
        typeDigits(appViewModel, Field::confirmPin, pin.left(5));

        int steps = 0;
        QTimer stepCounter;
        indicator->show();
        int lastCounter = indicator->circleBlinks()->counter();
        QObject::connect(&stepCounter, &QTimer::timeout, [&] {
            if (indicator->circleBlinks()->counter() != lastCounter) {
                lastCounter = indicator->circleBlinks()->counter();
                ++steps;
            }
        });
        stepCounter.start(5);
        meter.start();
        QElapsedTimer elapsed;
        elapsed.start();
        // The sixth confirmation digit submits.
        QTest::keyClick(QApplication::focusWidget(), pin.back().toLatin1());
        spinUntil([&] { return appViewModel.isLoading.get(); });
        spinUntil([&] { return !appViewModel.isLoading.get(); });
        durations.push_back(double(elapsed.nsecsElapsed()) / 1e6);
        stalls.push_back(meter.stop());
        stepCounter.stop();
        indicator->hide();
        if (!flow.showSucces.get()) {
            out << "registration " << run << " failed: " << flow.errorMessage.get() << "\n";
            return 1;
        }
        totalSteps += steps;
    }

    // The same meter over an idle event loop for as long as the registrations took: what the machine itself
    // costs the loop.
    std::vector<double> idleStalls;
    for (const double duration : durations) {
        meter.start();
        QElapsedTimer idle;
        idle.start();
        spinUntil([&] { return double(idle.nsecsElapsed()) / 1e6 >= duration; });
        idleStalls.push_back(meter.stop());
    }

    // What the main thread does itself once the service has answered: the user stored, the display e-mails
    // refreshed, the list read back.
    std::vector<double> storeSteps;
    for (int run = 0; run < runs; ++run) {
        AuthResponse user;
        user.zid = QStringLiteral("Z-store-%1").arg(run);
        user.suid = QStringLiteral("S-store-%1").arg(run);
        user.email = QStringLiteral("store%1@example.com").arg(run);
        QElapsedTimer elapsed;
        elapsed.start();
        CoreDataManager::shared().saveAuthResponse(user);
        CoreDataManager::shared().refreshDisplayEmails(*user.email);
        CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
        storeSteps.push_back(double(elapsed.nsecsElapsed()) / 1e6);
    }

    std::vector<double> onCallingThread;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer elapsed;
        elapsed.start();
        KeyChain::getOrCreateKeyPair(QStringLiteral("bench-%1").arg(run));
        onCallingThread.push_back(double(elapsed.nsecsElapsed()) / 1e6);
    }

    out << QStringLiteral("registrations through the screen:          %1\n").arg(runs);
    out << QStringLiteral("registration, submit to overlay cleared:   %1 ms median, %2 ms longest\n")
               .arg(median(durations), 0, 'f', 1)
               .arg(*std::max_element(durations.begin(), durations.end()), 0, 'f', 1);
    out << QStringLiteral("longest event-loop stall during one:       %1 ms median, %2 ms worst\n")
               .arg(median(stalls), 0, 'f', 1)
               .arg(*std::max_element(stalls.begin(), stalls.end()), 0, 'f', 1);
    double busyMs = 0;
    for (const double duration : durations)
        busyMs += duration;
    // The indicator steps every 125 ms at its fast speed.
    out << "longest stall of each registration (ms):  ";
    for (const double stall : stalls)
        out << QString::number(stall, 'f', 1) << ' ';
    out << '\n';
    out << QStringLiteral("busy indicator steps while busy:           %1 of %2 due\n")
               .arg(totalSteps)
               .arg(int(busyMs / 125.0));
    out << QStringLiteral("the same loop idle, longest stall:         %1 ms median, %2 ms worst\n")
               .arg(median(idleStalls), 0, 'f', 1)
               .arg(*std::max_element(idleStalls.begin(), idleStalls.end()), 0, 'f', 1);
    out << QStringLiteral("storing the new user on the main thread:   %1 ms median, %2 ms longest\n")
               .arg(median(storeSteps), 0, 'f', 1)
               .arg(*std::max_element(storeSteps.begin(), storeSteps.end()), 0, 'f', 1);
    out << QStringLiteral("RSA-2048 generation on the calling thread: %1 ms median, %2 ms longest\n")
               .arg(median(onCallingThread), 0, 'f', 1)
               .arg(*std::max_element(onCallingThread.begin(), onCallingThread.end()), 0, 'f', 1);
    out.flush();
    return 0;
}
