// Medians of one sign-in approval (the code, then the second code) through HomeViewModel, against the
// identity-service double on loopback, and the client's own share of that time: the same two requests
// replayed as bare HTTP posts take the transport and the double's work out of it.
//   approval_bench [samples-scale]
#include "api/Repository.h"
#include "app/AppViewModel.h"
#include "flows/HomeViewModel.h"
#include "flows/RequestSigner.h"
#include "networking/NetworkingClient.h"
#include "platform/Console.h"
#include "platform/MemoryKeyStore.h"
#include "storage/AppLogger.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "support/IdentityServiceDouble.h"
#include "support/ManualClock.h"
#include "support/SignatureCheckingService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <functional>
#include <vector>

using namespace std::chrono_literals;

namespace {

QTextStream out(stdout);

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const size_t mid = times.size() / 2;
    return times.size() % 2 ? times[mid] : (times[mid - 1] + times[mid]) / 2;
}

double medianMs(int samples, const std::function<void()>& run) {
    std::vector<double> times;
    times.reserve(size_t(samples));
    for (int i = 0; i < samples; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return median(std::move(times));
}

void report(const QString& what, int samples, double ms) {
    out << qSetFieldWidth(52) << Qt::left << what << qSetFieldWidth(0)
        << QStringLiteral("%1 ms  (median of %2)\n").arg(ms, 9, 'f', 3).arg(samples);
    out.flush();
}

// Waits on the event loop until `done` holds; a benchmark may spin the loop, the program never does.
void spinUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void postRaw(QNetworkAccessManager& network, const QString& url, const QByteArray& body) {
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("x-source-app", "mac");
    request.setRawHeader("x-source-app-version", "1.0.0");
    QNetworkReply* reply = network.post(request, body);
    spinUntil([reply] { return reply->isFinished(); });
    reply->readAll();
    reply->deleteLater();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int scale = std::max(1, argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1);
    const int samples = 200 * scale;

    QTemporaryDir dir;
    PersistentContainer::Options options;
    options.storePath = dir.filePath(QStringLiteral("QVModel.sqlite"));
    CoreDataManager::configure(options);
    AppLogger::shared().setLogFilePath(dir.filePath(QStringLiteral("quorvaleapp.log")));
    KeyChain::setKeyStore(std::make_shared<MemoryKeyStore>());
    console::setSink([](const QString&) {});

    AuthResponse user;
    user.suid = QStringLiteral("S-1");
    user.zid = QStringLiteral("Z-1");
    user.email = QStringLiteral("alice@example.com");
    user.displayEmail = user.email;
    user.orgCode = QStringLiteral("ORG1");
    user.primaryAttr = QStringLiteral("P-1");
    user.pin = KeyChain::sha256Hex(QStringLiteral("135792"));
    const auto pair = KeyChain::getOrCreateKeyPair(*user.primaryAttr + QStringLiteral("||") + *user.pin);
    CoreDataManager::shared().saveAuthResponse(user);

    IdentityServiceDouble service;
    service.start();
    SignatureCheckingService checks(service);
    checks.registerKey(*user.zid, *KeyChain::publicKeyString(pair->publicKey));
    service.setReply(
        QStringLiteral("/api/v1/verify/did"),
        ScriptedReply::json(200, json({{"errorCode", 0}, {"resultCode", 0}, {"org", "ORG1"}, {"ttl", 60}})));
    service.setReply(
        QStringLiteral("/api/v1/verify/validationCode"),
        ScriptedReply::json(200, json({{"errorCode", 0}, {"resultCode", 0}, {"message", "Approved"}})));

    NetworkingClient client(service.baseURL());
    client.parameterEncoding = ParameterEncoding::json;
    Repository repository(client);
    ManualClock clock;
    AppViewModel appViewModel(nullptr, clock);
    appViewModel.setTestMode(true);
    appViewModel.authDetails = user;
    appViewModel.markSignedIn();
    HomeViewModel home(&repository, appViewModel, clock);

    const auto approve = [&] {
        QCoro::waitFor(home.verifyDid(QStringLiteral("abc123")));
        home.verifyCode(QStringLiteral("4821"));
        spinUntil([&] { return home.showSucces.get(); });
    };
    // The banner's end resets the screen for the next approval, outside the measured time.
    const auto settle = [&] { clock.advance(2s); };

    out << "Approval round trip on loopback (" << service.baseURL() << ")\n";
    approve();
    settle();
    const QByteArray verifyBody = service.received().at(0).body;
    const QByteArray codeBody = service.received().at(1).body;
    service.setRecording(false);

    std::vector<double> flowTimes;
    for (int i = 0; i < samples; ++i) {
        QElapsedTimer timer;
        timer.start();
        approve();
        flowTimes.push_back(double(timer.nsecsElapsed()) / 1e6);
        settle();
    }
    const double flow = median(flowTimes);
    report(QStringLiteral("approval through the client (verify, second code)"), samples, flow);

    QNetworkAccessManager network;
    const double bare = medianMs(samples, [&] {
        postRaw(network, service.baseURL() + QStringLiteral("/api/v1/verify/did"), verifyBody);
        postRaw(network, service.baseURL() + QStringLiteral("/api/v1/verify/validationCode"), codeBody);
    });
    report(QStringLiteral("the same two posts, bare HTTP"), samples, bare);
    report(QStringLiteral("client's own share"), samples, flow - bare);

    const double signing = medianMs(samples, [&] {
        QCoro::waitFor(RequestSigner::sign(user, QStringLiteral("S-1||Z-1||ABC123||ORG1")));
    });
    report(QStringLiteral("  of which one signature (key lookup, RSA-2048)"), samples, signing);

    const QString tag = *user.primaryAttr + QStringLiteral("||") + *user.pin;
    report(QStringLiteral("    key lookup alone, on the calling thread"), samples,
           medianMs(samples, [&] { KeyChain::getOrCreateKeyPair(tag); }));
    report(QStringLiteral("    RSA PKCS#1 v1.5 SHA-256 signature alone"), samples, medianMs(samples, [&] {
               KeyChain::signBase64(pair->privateKey, QStringLiteral("S-1||Z-1||ABC123||ORG1"));
           }));

    if (!checks.allVerified()) {
        out << "a signature failed the service's check\n";
        return 1;
    }
    return 0;
}
