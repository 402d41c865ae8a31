#include "AsyncTest.h"
#include "IdentityServiceDouble.h"
#include "RecordingCrashReporter.h"
#include "networking/HttpTransport.h"
#include "networking/NetworkingError.h"
#include "networking/NetworkingRequest.h"
#include "platform/BundleInfo.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

using Status = NetworkingError::Status;

class TestNetworkingRequest : public QObject {
    Q_OBJECT

    IdentityServiceDouble* m_service = nullptr;
    std::shared_ptr<RecordingCrashReporter> m_reports;
    QStringList m_logLines;

    std::unique_ptr<NetworkingRequest> post(const QString& route, const QJsonObject& params) {
        auto request = std::make_unique<NetworkingRequest>();
        request->baseURL = m_service->baseURL();
        request->route = route;
        request->httpMethod = HTTPMethod::post;
        request->params = params;
        return request;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        NetworkingLogger::setOutput([this](const QString& line) { m_logLines << line; });
    }

    void init() {
        BundleInfo::setInfoDictionary({{"CFBundleShortVersionString", "9.8.7"}});
        m_reports = RecordingCrashReporter::install();
        m_logLines.clear();
        m_service = new IdentityServiceDouble(this);
        QVERIFY(m_service->start());
    }

    void cleanup() {
        delete m_service;
        m_service = nullptr;
    }

    void headersOnTheWire_data() {
        QTest::addColumn<QVariantMap>("info");
        QTest::addColumn<QStringList>("callerHeaders");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<QByteArray>("body");
        const QVariantMap withVersion{{"CFBundleShortVersionString", "9.8.7"}};
        const int json = int(ParameterEncoding::json);
        const int form = int(ParameterEncoding::urlEncoded);
        QTest::newRow("json defaults")
            << withVersion << QStringList{} << json << QByteArray("application/json") << QByteArray("9.8.7")
            << QByteArray(R"({"a":1})");
        QTest::newRow("client headers win over the caller's, caller's content type wins")
            << withVersion
            << QStringList{"x-source-app", "pc", "X-Source-App-Version", "0.0", "Content-Type", "text/plain",
                           "X-Trace",      "t1"}
            << json << QByteArray("text/plain") << QByteArray("9.8.7") << QByteArray(R"({"a":1})");
        QTest::newRow("url-encoded") << withVersion << QStringList{} << form
                                     << QByteArray("application/x-www-form-urlencoded") << QByteArray("9.8.7")
                                     << QByteArray("a=1");
        QTest::newRow("no version entry, no version header")
            << QVariantMap{} << QStringList{} << json << QByteArray("application/json") << QByteArray()
            << QByteArray(R"({"a":1})");
        QTest::newRow("version that is not a text")
            << QVariantMap{{"CFBundleShortVersionString", 7}} << QStringList{} << json
            << QByteArray("application/json") << QByteArray() << QByteArray(R"({"a":1})");
    }

    void headersOnTheWire() {
        QFETCH(QVariantMap, info);
        QFETCH(QStringList, callerHeaders);
        QFETCH(int, encoding);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, body);
        BundleInfo::setInfoDictionary(info);
        auto request = post("/api/v1/verify/did", {{"a", 1}});
        request->parameterEncoding = ParameterEncoding(encoding);
        for (int i = 0; i + 1 < callerHeaders.size(); i += 2)
            request->headers.append(qMakePair(callerHeaders[i], callerHeaders[i + 1]));

        QVERIFY(!failureOf(request->execute()));
        const ReceivedRequest received = m_service->lastRequest();
        QCOMPARE(received.method, "POST");
        QCOMPARE(received.header("x-source-app"), QByteArray("mac"));
        QCOMPARE(received.header("x-source-app-version").value_or(QByteArray()), version);
        QCOMPARE(received.header("Content-Type"), contentType);
        QCOMPARE(received.body, body);
        if (callerHeaders.contains("X-Trace"))
            QCOMPARE(received.header("X-Trace"), QByteArray("t1"));
    }

    void timeoutOfTheRequest_data() {
        QTest::addColumn<std::optional<double>>("timeout");
        QTest::addColumn<double>("expected");
        QTest::newRow("default") << std::optional<double>() << 60.0;
        QTest::newRow("custom") << std::optional<double>(10) << 10.0;
    }

    void timeoutOfTheRequest() {
        QFETCH(std::optional<double>, timeout);
        QFETCH(double, expected);
        auto request = post("/x", {});
        request->timeout = timeout;
        QCOMPARE(request->makeURLRequest()->timeoutInterval, expected);
    }

    void silentServerEndsAtTheTimeout() {
        m_service->setReply("/api/v1/verify/did", ScriptedReply::silence());
        auto request = post("/api/v1/verify/did", {});
        request->timeout = 0.3;
        QElapsedTimer clock;
        clock.start();
        const auto error = errorAs<URLError>(failureOf(request->execute()));
        QVERIFY(error);
        QCOMPARE(error->code(), int(URLError::timedOut));
        QVERIFY(clock.elapsed() < 5000);
    }

    // The timer counts in int milliseconds: about 49.7 days would wrap round to a fraction of a second.
    void aVeryLongTimeoutDoesNotEndTheRequestEarly() {
        m_service->setReply("/api/v1/verify/did", ScriptedReply::silence());
        auto request = post("/api/v1/verify/did", {});
        request->timeout = 4294967.5;
        bool done = false;
        auto run = [&]() -> QCoro::Task<> {
            try {
                co_await request->execute();
            } catch (...) {
            }
            done = true;
        };
        auto task = run();
        QTest::qWait(800);
        QVERIFY(!done);
        delete m_service;
        m_service = nullptr;
        QTRY_VERIFY(done);
    }

    void getCarriesParamsAsQueryItems() {
        auto request =
            post("/api/v1/items?existing=1", {{"b", "a b"}, {"ids", QJsonArray{1, 2}}, {"flag", true}});
        request->httpMethod = HTTPMethod::get;
        m_service->setReply("/api/v1/items", ScriptedReply::json(200, "{}"));
        QVERIFY(!failureOf(request->execute()));
        const ReceivedRequest received = m_service->lastRequest();
        QCOMPARE(received.method, "GET");
        QVERIFY(!received.header("Content-Type"));
        QVERIFY(received.body.isEmpty());
        const QUrlQuery query(received.query);
        const auto items = query.queryItems(QUrl::FullyDecoded);
        QCOMPARE(items.first(), qMakePair(QString("existing"), QString("1")));
        QCOMPARE(query.queryItemValue("b", QUrl::FullyDecoded), "a b");
        QCOMPARE(query.allQueryItemValues("ids[]", QUrl::FullyDecoded), QStringList({"1", "2"}));
        QCOMPARE(query.queryItemValue("flag"), "1");
        QVERIFY(!query.hasQueryItem("ids"));
    }

    void urlEncodedBodies_data() {
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("nested dictionary")
            << QJsonObject{{"user", QJsonObject{{"name", "a b"}}}} << QByteArray("user[name]=a%20b");
        QTest::newRow("list") << QJsonObject{{"ids", QJsonArray{1, 2}}} << QByteArray("ids[]=1&ids[]=2");
        QTest::newRow("reserved characters in values")
            << QJsonObject{{"q", "a&b=c+d"}} << QByteArray("q=a%26b%3Dc%2Bd");
        QTest::newRow("empty list keeps its place")
            << QJsonObject{{"a", QJsonArray{}}, {"b", "x"}} << QByteArray("&b=x");
        QTest::newRow("deeper nesting")
            << QJsonObject{{"o", QJsonObject{{"p", QJsonObject{{"k", 1}}}}}} << QByteArray("o[p][k]=1");
        QTest::newRow("nothing") << QJsonObject{} << QByteArray();
    }

    void urlEncodedBodies() {
        QFETCH(QJsonObject, params);
        QFETCH(QByteArray, body);
        auto request = post("/api/v1/device/manage", params);
        request->parameterEncoding = ParameterEncoding::urlEncoded;
        QVERIFY(!failureOf(request->execute()));
        QCOMPARE(m_service->lastRequest().body, body);
    }

    void crashReports_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("thrown"); // empty: success
        QTest::addColumn<bool>("payload");
        QTest::addColumn<QString>("reason"); // empty: no report
        QTest::newRow("404 with codes 12/0") << 404 << QByteArray(R"({"errorCode":12,"resultCode":0})")
                                             << "notFound" << true << "Error Code: 12 Result Code: 0";
        QTest::newRow("200 with codes 0/0")
            << 200 << QByteArray(R"({"errorCode":0,"resultCode":0})") << "" << false << "";
        QTest::newRow("200 with only one code")
            << 200 << QByteArray(R"({"errorCode":5})") << "" << false << "";
        QTest::newRow("200 with codes 0/3") << 200 << QByteArray(R"({"errorCode":0,"resultCode":3})") << ""
                                            << false << "Error Code: 0 Result Code: 3";
        QTest::newRow("500 with an empty body")
            << 500 << QByteArray() << "internalServerError" << false << "";
        QTest::newRow("419 has no case") << 419 << QByteArray("[1]") << "unknown" << true << "";
        QTest::newRow("299 is a success") << 299 << QByteArray("{}") << "" << false << "";
        QTest::newRow("wrong code type skips the report")
            << 400 << QByteArray(R"({"errorCode":"12","resultCode":0})") << "badRequest" << true << "";
        QTest::newRow("html error page")
            << 502 << QByteArray("<html>bad</html>") << "badGateway" << false << "";
    }

    void crashReports() {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(QString, thrown);
        QFETCH(bool, payload);
        QFETCH(QString, reason);
        m_service->setReply("/api/v1/verify/did", ScriptedReply::json(status, reply));
        auto request = post("/api/v1/verify/did?x=1", {{"code", "42"}});
        m_service->setReply("/api/v1/verify/did", ScriptedReply::json(status, reply));

        QByteArray data;
        std::exception_ptr failure;
        try {
            data = await(request->execute());
        } catch (...) {
            failure = std::current_exception();
        }
        if (thrown.isEmpty()) {
            QVERIFY(!failure);
            QCOMPARE(data, reply);
        } else {
            const auto error = errorAs<NetworkingError>(failure);
            QVERIFY(error);
            QCOMPARE(error->errorDescription(), thrown);
            QCOMPARE(error->jsonPayload.has_value(), payload);
            if (payload)
                QCOMPARE(*error->jsonPayload, QJsonDocument::fromJson(reply).isObject()
                                                  ? QJsonValue(QJsonDocument::fromJson(reply).object())
                                                  : QJsonValue(QJsonDocument::fromJson(reply).array()));
        }

        if (reason.isEmpty()) {
            QVERIFY(m_reports->calls.isEmpty());
            return;
        }
        const QString url = m_service->baseURL() + "/api/v1/verify/did";
        using Call = RecordingCrashReporter::Call;
        QCOMPARE(m_reports->calls.size(), 5);
        QCOMPARE(m_reports->calls[0].first, QString(R"(Request : {"code":"42"})"));
        QCOMPARE(m_reports->calls[1].first, "Response : " + QString::fromUtf8(reply));
        QCOMPARE(m_reports->calls[2].first, "URL: : '" + url + "?x=1'");
        QCOMPARE(m_reports->calls[3].kind, Call::customValue);
        QCOMPARE(m_reports->calls[3].first, "API_PATH");
        QCOMPARE(m_reports->calls[3].second, url);
        QCOMPARE(m_reports->records(), QList<ExceptionModel>({{"Non-Fatal error", reason}}));
    }

    void reportForARequestWithoutBodyHasNoRequestLine() {
        m_service->setReply("/api/v1/items", ScriptedReply::json(200, R"({"errorCode":1,"resultCode":2})"));
        auto request = post("/api/v1/items", {});
        request->httpMethod = HTTPMethod::get;
        QVERIFY(!failureOf(request->execute()));
        QVERIFY(m_reports->logLines().first().startsWith("Response : "));
        QCOMPARE(m_reports->records().size(), 1);
    }

    void unparsableURLFailsWithoutAnyLogLine() {
        auto request = post("/api/v1/verify/did", {});
        request->baseURL = "ht tp://not a host";
        request->logger.logLevel = NetworkingLogLevel::debug;
        const auto error = errorAs<NetworkingError>(failureOf(request->execute()));
        QVERIFY(error);
        QCOMPARE(error->status, Status::unableToParseRequest);
        QVERIFY(!error->jsonPayload);
        QVERIFY(m_logLines.isEmpty());
        QVERIFY(m_service->received().isEmpty());
    }

    // Regression: with neither a reply nor an error the caller used to wait for ever.
    void completionWithNothingStillAnswers() {
        NetworkingRequest request;
        const auto error = errorAs<URLError>([&] {
            try {
                request.handleCompletion(std::nullopt, std::nullopt, nullptr);
            } catch (...) {
                return std::current_exception();
            }
            return std::exception_ptr();
        }());
        QVERIFY(error);
        QCOMPARE(error->code(), int(URLError::badServerResponse));
    }

    void transportErrorIsPassedOnUnchanged() {
        NetworkingRequest request;
        const auto error = errorAs<URLError>([&] {
            try {
                request.handleCompletion(QByteArray("{}"), std::nullopt,
                                         std::make_exception_ptr(URLError(URLError::notConnectedToInternet)));
            } catch (...) {
                return std::current_exception();
            }
            return std::exception_ptr();
        }());
        QVERIFY(error);
        QCOMPARE(error->code(), int(URLError::notConnectedToInternet));
    }

    void transportFailures_data() {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<int>("code");
        QTest::newRow("nobody listens") << 0 << int(URLError::cannotConnectToHost);
        QTest::newRow("reply beyond the size limit") << 1 << int(URLError::dataLengthExceedsMaximum);
    }

    void transportFailures() {
        QFETCH(int, scenario);
        QFETCH(int, code);
        auto request = post("/api/v1/verify/did", {});
        if (scenario == 0) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            request->baseURL = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
            probe.close();
        } else {
            m_service->setReply("/api/v1/verify/did",
                                ScriptedReply::json(200, QByteArray(300 * 1024, ' ') + "{}"));
            SessionConfiguration configuration;
            configuration.maximumResponseBytes = 64 * 1024;
            request->sessionConfiguration = configuration;
        }
        const auto error = errorAs<URLError>(failureOf(request->execute()));
        QVERIFY(error);
        QCOMPARE(error->code(), code);
        QVERIFY(m_reports->calls.isEmpty());
    }

    void offlineComputerIsReportedAsOffline_data() {
        QTest::addColumn<bool>("networkUp");
        QTest::addColumn<QString>("baseURL");
        QTest::addColumn<int>("code");
        QTest::newRow("offline, unknown host")
            << false << "http://no-such-host.invalid" << int(URLError::notConnectedToInternet);
        QTest::newRow("online, unknown host")
            << true << "http://no-such-host.invalid" << int(URLError::cannotFindHost);
        QTest::newRow("offline, loopback refused") << false << "closed" << int(URLError::cannotConnectToHost);
    }

    void offlineComputerIsReportedAsOffline() {
        QFETCH(bool, networkUp);
        QFETCH(QString, baseURL);
        QFETCH(int, code);
        URLSession::setNetworkProbe([networkUp] { return networkUp; });
        auto request = post("/api/v1/verify/did", {});
        if (baseURL == "closed") {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            request->baseURL = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
            probe.close();
        } else {
            request->baseURL = baseURL;
        }
        const auto error = errorAs<URLError>(failureOf(request->execute()));
        URLSession::setNetworkProbe({});
        QVERIFY(error);
        QCOMPARE(error->code(), code);
    }

    void transportErrorsMapToTheirCodes_data() {
        QTest::addColumn<int>("transportCode");
        QTest::addColumn<long>("verifyResult");
        QTest::addColumn<int>("code");
        QTest::newRow("refused") << int(CURLE_COULDNT_CONNECT) << 0L << int(URLError::cannotConnectToHost);
        QTest::newRow("closed without a reply")
            << int(CURLE_GOT_NOTHING) << 0L << int(URLError::networkConnectionLost);
        QTest::newRow("reset") << int(CURLE_RECV_ERROR) << 0L << int(URLError::networkConnectionLost);
        QTest::newRow("cut short") << int(CURLE_PARTIAL_FILE) << 0L << int(URLError::networkConnectionLost);
        QTest::newRow("host") << int(CURLE_COULDNT_RESOLVE_HOST) << 0L << int(URLError::cannotFindHost);
        QTest::newRow("timeout") << int(CURLE_OPERATION_TIMEDOUT) << 0L << int(URLError::timedOut);
        QTest::newRow("cancel") << int(CURLE_ABORTED_BY_CALLBACK) << 0L << int(URLError::cancelled);
        QTest::newRow("tls") << int(CURLE_SSL_CONNECT_ERROR) << 0L << int(URLError::secureConnectionFailed);
        QTest::newRow("expired") << int(CURLE_PEER_FAILED_VERIFICATION) << long(X509_V_ERR_CERT_HAS_EXPIRED)
                                 << int(URLError::serverCertificateHasBadDate);
        QTest::newRow("self-signed") << int(CURLE_PEER_FAILED_VERIFICATION)
                                     << long(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT)
                                     << int(URLError::serverCertificateHasUnknownRoot);
        QTest::newRow("name mismatch") << int(CURLE_PEER_FAILED_VERIFICATION) << 0L
                                       << int(URLError::serverCertificateUntrusted);
        QTest::newRow("content coding") << int(CURLE_BAD_CONTENT_ENCODING) << 0L
                                        << int(URLError::cannotDecodeContentData);
        QTest::newRow("redirects") << int(CURLE_TOO_MANY_REDIRECTS) << 0L << int(URLError::httpTooManyRedirects);
        QTest::newRow("protocol") << int(CURLE_WEIRD_SERVER_REPLY) << 0L << int(URLError::badServerResponse);
    }

    void transportErrorsMapToTheirCodes() {
        QFETCH(int, transportCode);
        QFETCH(long, verifyResult);
        QFETCH(int, code);
        QCOMPARE(HttpTransport::errorCode(transportCode, verifyResult), code);
    }

    void multipartRequestSetsItsOwnContentType() {
        auto request = post("/upload", {{"k", "v"}});
        request->headers.append(qMakePair(QString("Content-Type"), QString("application/json")));
        request->multipartData = std::vector<MultipartData>{{"file", "abc", "a.txt", "text/plain"}};
        const auto urlRequest = request->makeURLRequest();
        QVERIFY(urlRequest);
        const QString contentType = urlRequest->value("Content-Type").value_or(QString());
        QVERIFY(contentType.startsWith("multipart/form-data; boundary=Boundary-"));
        const QString boundary = contentType.mid(QString("multipart/form-data; boundary=").size());
        QVERIFY(QUuid::fromString(boundary.mid(9)).isNull() == false);
        QVERIFY(urlRequest->httpBody->endsWith(("--" + boundary + "--").toUtf8()));
    }
};

QTEST_GUILESS_MAIN(TestNetworkingRequest)
#include "tst_networkingrequest.moc"
