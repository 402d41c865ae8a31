// The longest stall of the event loop while a person goes, in the window, from the unlock screen to an
// approved sign-in: the PIN typed digit by digit, the code typed, Return on Authenticate, the service
// asking for the confirmation and then approving. A 1 ms timer ticks all along; a stall is the gap between
// two ticks beyond that millisecond. On a loaded machine a gap also holds the time the thread waited for a
// processor, so the main thread's own processor time across the same gap is given beside it. Runs against
// the identity-service double on loopback, offscreen.
//   signin_stall_bench [runs] [keyring]
// With "keyring" the device key lives in the desktop keyring (run under scripts/with-keyring.sh), else in
// memory.
#include "flows/FlowFixture.h"
#include "platform/SecretServiceKeyStore.h"
#include "ui/controls/ErrorMessageView.h"
#include "window/MainTabView.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

#include <algorithm>
#include <ctime>
#include <vector>

using namespace std::chrono_literals;

namespace {

QTextStream out(stdout);

qint64 threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

const QString pin = QStringLiteral("135792");
const QString code = QStringLiteral("abc123");
constexpr auto keyPause = 30ms;

// Watches the event loop: the longest gap between two ticks of a 1 ms timer, less the millisecond.
class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const qint64 cpu = threadCpuNanoseconds();
            if (m_last >= 0 && now - m_last - 1'000'000 > m_longest) {
                m_longest = now - m_last - 1'000'000;
                m_longestDuring = phase;
            }
            if (m_last >= 0)
                m_longestBusy = std::max(m_longestBusy, cpu - m_lastCpu);
            m_last = now;
            m_lastCpu = cpu;
        });
    }
    void start() {
        m_longest = 0;
        m_longestBusy = 0;
        m_last = -1;
        m_clock.start();
        m_timer.start();
    }
    double stop() {
        m_timer.stop();
        return double(m_longest) / 1e6;
    }
    // The most processor time the main thread spent between two ticks.
    double longestBusy() const { return double(m_longestBusy) / 1e6; }
    // What the journey was doing when the longest stall ended.
    const char* longestDuring() const { return m_longestDuring; }
    const char* phase = "";

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    qint64 m_longest = 0;
    qint64 m_lastCpu = 0;
    qint64 m_longestBusy = 0;
    const char* m_longestDuring = "";
};

QWidget* keyTarget(QWidget& window) {
    QWidget* focused = QApplication::focusWidget();
    return focused ? focused : &window;
}

QCoro::Task<> typeText(QWidget& window, const QString& text) {
    for (const QChar character : text) {
        QTest::keyClick(keyTarget(window), character.toLatin1());
        co_await QCoro::sleepFor(keyPause);
    }
}

bool approved(MainWindow& window) {
    QWidget* screen = window.mainTabView().currentScreen();
    const auto* status = screen ? screen->findChild<ErrorMessageView*>() : nullptr;
    return status && status->isSuccess() == true && !status->errorMessage().isEmpty();
}

struct Stall {
    double wall = -1; // negative: the journey did not get through
    double busy = 0;
};

// One journey: its longest stall in milliseconds.
QCoro::Task<Stall> journey(FlowFixture& fixture, const AuthResponse& user, const QString& pem) {
    CoreDataManager::shared().saveAuthResponse(user);
    fixture.checks.registerKey(*user.zid, pem);
    fixture.reply(QStringLiteral("verify/did"),
                  QJsonObject{{"errorCode", 0}, {"resultCode", 0}, {"confirm", QJsonObject{{"message", "Yes?"}}}});
    fixture.reply(QStringLiteral("confirm/qid"), QJsonObject{{"errorCode", 0}, {"resultCode", 0}});
    fixture.app->userDetailsList =
        CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
    fixture.app->currentTab = TabType::login;

    MainWindow window(*fixture.app, *fixture.repository);
    window.show();
    window.activateWindow();
    co_await QCoro::sleepFor(100ms);

    StallMeter meter;
    meter.start();
    meter.phase = "PIN";
    fixture.app->setFocusedField(Field::loginPassword);
    co_await QCoro::sleepFor(keyPause);
    co_await typeText(window, pin);
    meter.phase = "unlock";
    for (int i = 0; i < 100 && fixture.app->currentTab.get() != TabType::homeScreen; ++i)
        co_await QCoro::sleepFor(10ms);
    meter.phase = "code";
    fixture.app->setFocusedField(Field::authCode);
    co_await QCoro::sleepFor(keyPause);
    co_await typeText(window, code);
    meter.phase = "approval";
    fixture.app->setFocusedField(Field::authenticate);
    co_await QCoro::sleepFor(keyPause);
    QTest::keyClick(keyTarget(window), Qt::Key_Return);
    for (int i = 0; i < 500 && !approved(window); ++i)
        co_await QCoro::sleepFor(10ms);
    const Stall stall{approved(window) ? meter.stop() : -1.0, meter.longestBusy()};
    if (qEnvironmentVariableIsSet("STALL_TRACE"))
        out << "  " << QString::number(stall.wall, 'f', 1) << " ms during " << meter.longestDuring() << ", busy "
            << QString::number(stall.busy, 'f', 1) << " ms\n";
    co_return stall;
}

QCoro::Task<int> run(int runs, bool keyring) {
    QTemporaryDir dir;
    FlowFixture::setUpProcess(dir, keyring ? std::shared_ptr<KeyStore>(std::make_shared<SecretServiceKeyStore>())
                                           : std::make_shared<MemoryKeyStore>());
    console::setSink([](const QString&) {});
    const AuthResponse user = FlowFixture::enrolledUser(KeyChain::sha256Hex(pin));
    const auto pair = KeyChain::getOrCreateKeyPair(*user.primaryAttr + "||" + *user.pin);
    if (!pair) {
        out << "no device key\n";
        co_return 1;
    }
    const QString pem = *KeyChain::publicKeyString(pair->publicKey);

    std::vector<double> stalls;
    std::vector<double> busy;
    for (int i = 0; i < runs; ++i) {
        FlowFixture fixture;
        const Stall stall = co_await journey(fixture, user, pem);
        if (stall.wall < 0) {
            out << "run " << i + 1 << " did not reach the approval\n";
            co_return 1;
        }
        stalls.push_back(stall.wall);
        busy.push_back(stall.busy);
    }
    std::sort(stalls.begin(), stalls.end());
    std::sort(busy.begin(), busy.end());
    const auto ms = [](double value) { return QString::number(value, 'f', 1); };
    out << "unlock to approved sign-in, " << runs << " runs, keys " << (keyring ? "in the keyring" : "in memory")
        << "\n  longest event-loop stall: " << ms(stalls.back()) << " ms (median of runs " << ms(stalls[stalls.size() / 2])
        << " ms)\n  longest main-thread work between two ticks: " << ms(busy.back()) << " ms (median of runs "
        << ms(busy[busy.size() / 2]) << " ms)\n";
    out.flush();
    co_return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = args.size() > 1 ? std::max(1, args.at(1).toInt()) : 10;
    const bool keyring = args.contains(QStringLiteral("keyring"));
    int status = 1;
    auto task = [&]() -> QCoro::Task<> {
        status = co_await run(runs, keyring);
        QCoreApplication::exit(status);
    }();
    app.exec();
    return status;
}
