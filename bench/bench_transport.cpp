// The loading layer's cost per call: N sequential POSTs (each on a connection of its own) and GETs (which may
// reuse one) through URLSession::data to the loopback identity-service double, over plain HTTP and over TLS,
// with the median per call of each.
//
//   bench_transport [calls=500]

#include "IdentityServiceDouble.h"
#include "TestCertificates.h"
#include "networking/URLLoading.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTimer>

#include <QCoroTask>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QCoro::Task<double> medianCall(const QString& baseURL, const QString& method,
                               const SessionConfiguration& configuration, int calls) {
    URLRequest request;
    request.url = QUrl(baseURL + QStringLiteral("/api/v1/verify/did"));
    request.httpMethod = method;
    request.setValue(QStringLiteral("application/json"), QStringLiteral("Content-Type"));
    if (method == QLatin1String("POST"))
        request.httpBody = QByteArray(R"({"uniqueId":"0c8d5d4e","timestamp":1733700000000,"signature":")") +
                           QByteArray(256, 'x').toBase64() + "\"}";
    std::vector<double> times;
    for (int i = 0; i < calls + 20; ++i) {
        QElapsedTimer clock;
        clock.start();
        try {
            const URLLoadResult result = co_await URLSession::data(request, configuration);
            if (result.data.isEmpty())
                std::fprintf(stderr, "empty reply\n");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "call failed: %s\n", e.what());
        }
        if (i >= 20) // the first ones warm caches
            times.push_back(clock.nsecsElapsed() / 1000.0);
    }
    co_return median(times);
}

QCoro::Task<int> run(int calls) {
    const QByteArray replyBody = R"({"errorCode":0,"resultCode":0,"timestamp":1733700000001,"orgCodes":[]})";
    IdentityServiceDouble plain;
    plain.setRecording(false);
    QString error;
    const auto certificates = TestCertificates::generate(&error);
    IdentityServiceDouble secure;
    secure.setRecording(false);
    if (!certificates) {
        std::fprintf(stderr, "no certificates: %s\n", qPrintable(error));
        co_return 1;
    }
    secure.useTls(certificates->server, certificates->serverKey);
    if (!plain.start() || !secure.start()) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        co_return 1;
    }
    for (IdentityServiceDouble* service : {&plain, &secure})
        service->setFallbackReply(ScriptedReply::json(200, replyBody));
    SessionConfiguration trusting;
    trusting.extraTrustedRoots = {certificates->authority};

    std::printf("calls per variant: %d\n", calls);
    std::printf("POST over HTTP, median:  %9.1f us\n",
                co_await medianCall(plain.baseURL(), QStringLiteral("POST"), {}, calls));
    std::printf("GET over HTTP, median:   %9.1f us\n",
                co_await medianCall(plain.baseURL(), QStringLiteral("GET"), {}, calls));
    std::printf("POST over TLS, median:   %9.1f us\n",
                co_await medianCall(secure.baseURL("localhost"), QStringLiteral("POST"), trusting, calls));
    std::printf("GET over TLS, median:    %9.1f us\n",
                co_await medianCall(secure.baseURL("localhost"), QStringLiteral("GET"), trusting, calls));
    co_return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int calls = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 500;
    int status = 1;
    QTimer::singleShot(0, &app, [&] {
        [](int n, int& result) -> QCoro::Task<> {
            result = co_await run(n);
            QCoreApplication::quit();
        }(calls, status);
    });
    app.exec();
    return status;
}
