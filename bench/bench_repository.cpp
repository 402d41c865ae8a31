// The client's cost per API call: N sequential approval calls through Repository to the loopback
// identity-service double over plain HTTP, at both logging levels (off, and debug as the program runs it,
// every line written to standard output), each beside its floor measured in the same run: the same request
// as a bare libcurl POST with the client's connection policy (BarePost.h). Medians per call and the ratios
// to the floor go to standard error, so that the log lines can be sent where the program's would go:
//   bench_repository [calls=2000] > /dev/null

#include "BarePost.h"
#include "api/Environment.h"
#include "api/Repository.h"
#include "networking/NetworkingClient.h"
#include "platform/CrashReporting.h"
#include "support/IdentityServiceDouble.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

class NoReports final : public CrashReporter {
public:
    void log(const QString&) override {}
    void setCustomValue(const QString&, const QString&) override {}
    void record(const ExceptionModel&) override {}
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

VerifyDidRequest sampleRequest() {
    VerifyDidRequest r;
    r.uniqueId = QStringLiteral("0c8d5d4e-2f7b-4a7e-9d7b-8d0a9e8c1f11");
    r.timestamp = 1733700000000;
    r.suid = QStringLiteral("suid-123456");
    r.zid = QStringLiteral("zid-654321");
    r.signature = QString(QByteArray(256, 'x').toBase64());
    return r;
}

const QByteArray replyBody = R"({"errorCode":0,"resultCode":0,"timestamp":1733700000001,"orgCodes":[]})";

// A failed call ends in an exception, which QCoro::waitFor would never return from.
QCoro::Task<bool> call(Repository& repository, const VerifyDidRequest& request) {
    try {
        const VerifyDidResponse reply = co_await repository.verifyDid(request);
        co_return reply.resultCode.has_value();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "repository call failed: %s\n", e.what());
        co_return false;
    }
}

double elapsedUs(const std::function<bool()>& run) {
    QElapsedTimer clock;
    clock.start();
    if (!run())
        std::fprintf(stderr, "a call failed\n");
    return double(clock.nsecsElapsed()) / 1000.0;
}

// The client's own work for one call without the transfer: parameters, request, logging, the failure-report
// check, status check, parsing and decoding.
double clientWorkPerCall(const VerifyDidRequest& request, const QString& baseURL, NetworkingLogLevel level) {
    NetworkingClient client(baseURL);
    client.parameterEncoding = ParameterEncoding::json;
    client.setLogLevel(level);
    const URLResponse response{QUrl(baseURL + Endpoint::verifyDid()), 200, {}};
    constexpr int rounds = 20000;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < rounds; ++i) {
        const auto networkingRequest = client.makeRequest(HTTPMethod::post, Endpoint::verifyDid(), asParams(request));
        const auto urlRequest = networkingRequest->makeURLRequest();
        networkingRequest->logger.log(*urlRequest);
        const QByteArray data = networkingRequest->handleCompletion(replyBody, response, nullptr);
        const VerifyDidResponse reply = client.decode<VerifyDidResponse>(parseJSON(data));
        if (!reply.resultCode)
            std::fprintf(stderr, "decoded no result code\n");
    }
    return double(clock.nsecsElapsed()) / 1000.0 / rounds;
}

struct Variant {
    const char* name;
    NetworkingLogLevel level;
    std::unique_ptr<NetworkingClient> client;
    std::unique_ptr<Repository> repository;
    std::vector<double> times;
};

int run(int calls, IdentityServiceDouble& service) {
    const QString base = service.baseURL();
    std::vector<Variant> variants;
    variants.push_back({"log level off", NetworkingLogLevel::off, nullptr, nullptr, {}});
    variants.push_back({"log level debug", NetworkingLogLevel::debug, nullptr, nullptr, {}});
    for (Variant& variant : variants) {
        variant.client = std::make_unique<NetworkingClient>(base);
        variant.client->parameterEncoding = ParameterEncoding::json;
        variant.client->setLogLevel(variant.level);
        variant.repository = std::make_unique<Repository>(*variant.client);
    }
    const VerifyDidRequest request = sampleRequest();

    // One call as the client makes it, recorded, so that the floor sends the very same bytes.
    bool recorded = false;
    const QList<ReceivedRequest> received =
        recordSent(service, [&] { recorded = QCoro::waitFor(call(*variants.front().repository, request)); });
    const ReceivedRequest sent = received.size() == 1 ? received.front() : ReceivedRequest{};
    if (!recorded || sent.path.isEmpty()) {
        std::fprintf(stderr, "the client's call did not arrive\n");
        return 1;
    }
    BarePost floor(base.toUtf8() + sent.route().toUtf8(), sent.body, sent);
    if (!floor.run()) {
        std::fprintf(stderr, "the bare libcurl post does not work\n");
        return 1;
    }

    for (int i = 0; i < 100; ++i) { // warm caches and the loopback path
        for (Variant& variant : variants)
            QCoro::waitFor(call(*variant.repository, request));
        floor.run();
    }
    std::vector<double> floorTimes;
    for (int i = 0; i < calls; ++i) { // interleaved, so that drift in the machine's load hits all alike
        for (Variant& variant : variants)
            variant.times.push_back(
                elapsedUs([&] { return QCoro::waitFor(call(*variant.repository, request)); }));
        floorTimes.push_back(elapsedUs([&] { return floor.run(); }));
    }

    const double floorMedian = median(floorTimes);
    std::fprintf(stderr, "%d calls per variant, plain HTTP on loopback (%s), medians\n", calls, qPrintable(base));
    std::fprintf(stderr, "%-34s %8.1f us\n", "floor: bare libcurl POST", floorMedian);
    for (const Variant& variant : variants) {
        const double m = median(variant.times);
        std::fprintf(stderr, "%-34s %8.1f us   overhead %7.1f us   ratio %5.2f\n",
                     qPrintable(QStringLiteral("Repository call, %1").arg(variant.name)), m, m - floorMedian,
                     floorMedian > 0 ? m / floorMedian : 0.0);
    }
    for (const Variant& variant : variants)
        std::fprintf(stderr, "%-34s %8.1f us per call\n",
                     qPrintable(QStringLiteral("client work, no transfer, %1").arg(variant.name)),
                     clientWorkPerCall(request, base, variant.level));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    CrashReporter::setShared(std::make_shared<NoReports>());
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int calls = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 2000;

    // The double answers on a thread of its own, so that the bare posts may block this one.
    QThread serverThread;
    serverThread.start();
    auto* service = new IdentityServiceDouble;
    service->moveToThread(&serverThread);
    bool listening = false;
    QMetaObject::invokeMethod(
        service,
        [&] {
            service->setRecording(false);
            listening = service->start();
            service->setReply(Endpoint::verifyDid(), ScriptedReply::json(200, replyBody));
        },
        Qt::BlockingQueuedConnection);
    const int status = listening ? run(calls, *service) : (std::fprintf(stderr, "cannot listen on loopback\n"), 1);

    QMetaObject::invokeMethod(
        service, [service] { delete service; }, Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();
    curl_global_cleanup();
    return status;
}
