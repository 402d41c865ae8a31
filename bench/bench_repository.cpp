// Posts N sequential approval calls through Repository to the loopback identity-service double, and the same
// body as bare QNetworkAccessManager posts, and reports both medians per call and their ratio.
//
//   bench_repository [calls=2000] [--log-debug]

#include "IdentityServiceDouble.h"
#include "api/Environment.h"
#include "api/Repository.h"
#include "networking/NetworkingClient.h"
#include "platform/BundleInfo.h"
#include "platform/CrashReporting.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QTimer>

#include <QCoroNetworkReply>
#include <QCoroTask>

#include <algorithm>
#include <cstdio>
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

QCoro::Task<double> bareCall(QNetworkAccessManager& manager, const QUrl& url, const QByteArray& body,
                             const QByteArray& version) {
    QElapsedTimer clock;
    clock.start();
    QNetworkRequest request(url);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("x-source-app", "mac");
    request.setRawHeader("x-source-app-version", version);
    QNetworkReply* reply = manager.post(request, body);
    co_await reply;
    const QByteArray data = reply->readAll();
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError || data.isEmpty())
        std::fprintf(stderr, "bare post failed: %s\n", qPrintable(reply->errorString()));
    co_return clock.nsecsElapsed() / 1000.0;
}

QCoro::Task<double> repositoryCall(Repository& repository, const VerifyDidRequest& request) {
    QElapsedTimer clock;
    clock.start();
    try {
        const VerifyDidResponse reply = co_await repository.verifyDid(request);
        if (!reply.resultCode)
            std::fprintf(stderr, "repository call decoded no result code\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "repository call failed: %s\n", e.what());
    }
    co_return clock.nsecsElapsed() / 1000.0;
}

// The client's own work for one call without the transfer: parameters, request, logging, the failure-report
// check, status check, parsing and decoding.
double clientWorkPerCall(const VerifyDidRequest& request, const QByteArray& replyBody, const QString& baseURL,
                         bool logDebug) {
    NetworkingClient client(baseURL);
    client.parameterEncoding = ParameterEncoding::json;
    if (logDebug)
        client.setLogLevel(NetworkingLogLevel::debug);
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
    return clock.nsecsElapsed() / 1000.0 / rounds;
}

QCoro::Task<int> run(int calls, bool logDebug) {
    IdentityServiceDouble service;
    service.setRecording(false);
    if (!service.start()) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        co_return 1;
    }
    const QByteArray replyBody = R"({"errorCode":0,"resultCode":0,"timestamp":1733700000001,"orgCodes":[]})";
    service.setReply(Endpoint::verifyDid(), ScriptedReply::json(200, replyBody));

    NetworkingClient client(service.baseURL());
    client.parameterEncoding = ParameterEncoding::json;
    if (logDebug) {
        client.setLogLevel(NetworkingLogLevel::debug);
        NetworkingLogger::setOutput([](const QString&) {});
    }
    Repository repository(client);
    QNetworkAccessManager bare;

    const VerifyDidRequest request = sampleRequest();
    const QByteArray body = QJsonDocument(asParams(request)).toJson(QJsonDocument::Compact);
    const QUrl url(service.baseURL() + Endpoint::verifyDid());
    const QByteArray version =
        BundleInfo::string(QStringLiteral("CFBundleShortVersionString")).value_or(QString()).toUtf8();

    for (int i = 0; i < 100; ++i) { // warm both connections and caches
        co_await repositoryCall(repository, request);
        co_await bareCall(bare, url, body, version);
    }
    std::vector<double> viaRepository, viaBare;
    viaRepository.reserve(calls);
    viaBare.reserve(calls);
    for (int i = 0; i < calls; ++i) { // interleaved, so drift hits both alike
        viaRepository.push_back(co_await repositoryCall(repository, request));
        viaBare.push_back(co_await bareCall(bare, url, body, version));
    }
    const double r = median(viaRepository);
    const double b = median(viaBare);
    std::printf("calls per variant:         %d (log level %s)\n", calls,
                logDebug ? "debug, discarded" : "off");
    std::printf("bare QNAM post, median:    %8.1f us\n", b);
    std::printf("Repository call, median:   %8.1f us\n", r);
    std::printf("client overhead per call:  %8.1f us\n", r - b);
    std::printf("ratio Repository / bare:   %8.3f\n", b > 0 ? r / b : 0.0);
    std::printf("client work, no transfer:  %8.1f us per call\n",
                clientWorkPerCall(request, replyBody, service.baseURL(), logDebug));
    co_return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    CrashReporter::setShared(std::make_shared<NoReports>());
    int calls = 2000;
    bool logDebug = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--log-debug"))
            logDebug = true;
        else
            calls = std::max(1, arg.toInt());
    }
    int status = 1;
    QTimer::singleShot(0, &app, [&] {
        [](int n, bool debug, int& result) -> QCoro::Task<> {
            result = co_await run(n, debug);
            QCoreApplication::quit();
        }(calls, logDebug, status);
    });
    app.exec();
    return status;
}
