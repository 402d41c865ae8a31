#include "AsyncTest.h"
#include "RawHttpServer.h"
#include "TestCertificates.h"
#include "networking/HttpTransport.h"
#include "networking/NetworkingError.h"
#include "networking/URLLoading.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/resource.h>

// What the loading layer does on the wire when the server or the network misbehaves.
class TestHttpTransport : public QObject {
    Q_OBJECT

    static URLRequest post(const QString& baseURL, const QString& path, const QByteArray& body) {
        URLRequest request;
        request.url = QUrl(baseURL + path);
        request.httpMethod = QStringLiteral("POST");
        request.setValue(QStringLiteral("application/json"), QStringLiteral("Content-Type"));
        request.httpBody = body;
        request.timeoutInterval = 30;
        return request;
    }

    // Through the gzip tool, which every system has.
    static QByteArray gzip(const QByteArray& data) {
        QProcess tool;
        tool.start(QStringLiteral("gzip"), {QStringLiteral("-c"), QStringLiteral("-9")});
        tool.write(data);
        tool.closeWriteChannel();
        return tool.waitForFinished(30000) ? tool.readAllStandardOutput() : QByteArray();
    }

    static int codeOf(const std::exception_ptr& failure) {
        const auto error = errorAs<URLError>(failure);
        return error ? error->code() : 0;
    }

    // Lets the next peakMegabytes() count from the memory in use now, where the system allows it.
    static void startPeakMeasurement() {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
    }

    // The most memory the process has held at once.
    static qint64 peakMegabytes() {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    return line.mid(6).trimmed().split(' ').value(0).toLongLong() / 1024;
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss / 1024;
    }

    // Whether the system holds an established TCP connection to the loopback port.
    static bool hasConnectionTo(quint16 port) {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray ending = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> columns = line.simplified().split(' ');
            if (columns.size() > 3 && columns[3] == "01" &&
                (columns[1].endsWith(ending) || columns[2].endsWith(ending)))
                return true;
        }
        return false;
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Header fields and the trailer fields after a chunked body share one size limit: a server that sends
    // them without end is cut off at once instead of filling the memory.
    void headerAndTrailerFieldsHaveALimit_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<qint64>("fieldBytes");
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<bool>("refused");
        const QByteArray chunked =
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTrailer: X-Pad\r\n\r\n2\r\n{}\r\n0\r\n";
        QTest::newRow("50 MiB of trailer fields")
            << chunked << qint64(50) * 1024 * 1024 << QByteArray("\r\n") << true;
        QTest::newRow("50 MiB of header fields")
            << QByteArray("HTTP/1.1 200 OK\r\n") << qint64(50) * 1024 * 1024
            << QByteArray("Content-Length: 2\r\n\r\n{}") << true;
        QTest::newRow("64 KiB of trailer fields")
            << chunked << qint64(64) * 1024 << QByteArray("\r\n") << false;
    }

    void headerAndTrailerFieldsHaveALimit() {
        QFETCH(QByteArray, head);
        QFETCH(qint64, fieldBytes);
        QFETCH(QByteArray, tail);
        QFETCH(bool, refused);
        RawHttpServer server;
        QVERIFY(server.start());
        RawHttpServer::Answer answer{RawHttpServer::Action::reply, head};
        answer.filler = "X-Pad: " + QByteArray(1024 - 9, 'a') + "\r\n";
        answer.fillerBytes = fieldBytes;
        answer.tail = tail;
        server.setAnswers({answer});

        startPeakMeasurement();
        std::optional<URLLoadResult> result;
        const auto failure = failureOf([&]() -> QCoro::Task<> {
            result = co_await URLSession::data(post(server.baseURL(), "/api/v1/verify/did", "{}"));
        }());
        if (refused) {
            QCOMPARE(codeOf(failure), int(URLError::dataLengthExceedsMaximum));
            // Cut off at once: most of it was never even sent.
            QVERIFY2(server.fillerSent() < fieldBytes / 4, qPrintable(QString::number(server.fillerSent())));
        } else {
            QVERIFY(!failure);
            QCOMPARE(result->data, QByteArray("{}"));
        }
        QVERIFY2(peakMegabytes() < 100, qPrintable(QStringLiteral("%1 MB").arg(peakMegabytes())));
    }

    // A service that had applied the first copy of a signed call would refuse a second one while the action
    // succeeded; so once a request is out, a lost connection fails the call and nothing is sent again.
    void aRequestLostWithItsConnectionIsNotSentAgain_data() {
        QTest::addColumn<bool>("connectionUsedBefore");
        QTest::addColumn<int>("hangUp");
        QTest::newRow("fresh connection, closed") << false << int(RawHttpServer::Action::close);
        QTest::newRow("fresh connection, reset") << false << int(RawHttpServer::Action::reset);
        QTest::newRow("kept-alive connection, closed") << true << int(RawHttpServer::Action::close);
        QTest::newRow("kept-alive connection, reset") << true << int(RawHttpServer::Action::reset);
    }

    void aRequestLostWithItsConnectionIsNotSentAgain() {
        QFETCH(bool, connectionUsedBefore);
        QFETCH(int, hangUp);
        RawHttpServer server;
        QVERIFY(server.start());
        const RawHttpServer::Answer lost{RawHttpServer::Action(hangUp), {}};
        if (connectionUsedBefore) {
            server.setAnswers({RawHttpServer::Answer::http(200, {}, "{}"), lost});
            URLRequest warmUp = post(server.baseURL(), "/api/v1/desktop/initialize", {});
            warmUp.httpMethod = QStringLiteral("GET");
            warmUp.httpBody.reset();
            QVERIFY(!failureOf(URLSession::data(warmUp)));
        } else {
            server.setAnswers({lost});
        }

        const QByteArray body = R"({"signature":"c2lnbmVk","suid":"s-1"})";
        const auto failure = failureOf(URLSession::data(post(server.baseURL(), "/api/v1/confirm/qid", body)));
        QCOMPARE(codeOf(failure), int(URLError::networkConnectionLost));
        QTest::qWait(200); // a resend would come within milliseconds
        int copies = 0;
        for (const auto& request : server.received())
            copies += request.path == "/api/v1/confirm/qid" && request.body == body;
        QCOMPARE(copies, 1);
    }

    // A connection that ends before or during the TLS handshake is lost: no certificate was ever looked at.
    void aHandshakeCutShortIsALostConnection_data() {
        QTest::addColumn<int>("hangUp");
        QTest::addColumn<int>("when");
        QTest::newRow("closed at once")
            << int(RawHttpServer::Action::close) << int(RawHttpServer::HangUpPoint::accepted);
        QTest::newRow("reset at once")
            << int(RawHttpServer::Action::reset) << int(RawHttpServer::HangUpPoint::accepted);
        QTest::newRow("closed after the client's hello")
            << int(RawHttpServer::Action::close) << int(RawHttpServer::HangUpPoint::firstBytes);
        QTest::newRow("reset after the client's hello")
            << int(RawHttpServer::Action::reset) << int(RawHttpServer::HangUpPoint::firstBytes);
    }

    void aHandshakeCutShortIsALostConnection() {
        QFETCH(int, hangUp);
        QFETCH(int, when);
        RawHttpServer server;
        QVERIFY(server.start());
        server.hangUpEarly(RawHttpServer::Action(hangUp), RawHttpServer::HangUpPoint(when));
        const QString secure = QStringLiteral("https://127.0.0.1:%1").arg(server.port());
        const auto failure = failureOf(URLSession::data(post(secure, "/api/v1/verify/did", "{}")));
        QCOMPARE(codeOf(failure), int(URLError::networkConnectionLost));
    }

    // A service that stops taking connections and is then killed leaves a request that had just gone out
    // inside a connection the system resets mid-handshake.
    void aServiceKilledWhileARequestIsOutIsALostConnection() {
        QString error;
        const auto certificates = TestCertificates::generate(&error);
        QVERIFY2(certificates, qPrintable(error));
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const auto write = [&](const QString& name, const QByteArray& pem) {
            QFile file(folder.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(pem) == pem.size();
        };
        QVERIFY(write("server.pem", certificates->server.toPem()) &&
                write("server.key", certificates->serverKey.toPem()));

        QProcess service;
        service.setWorkingDirectory(folder.path());
        service.setProcessChannelMode(QProcess::MergedChannels);
        service.start(QStringLiteral("openssl"), {"s_server", "-accept", "127.0.0.1:0", "-www", "-cert",
                                                  "server.pem", "-key", "server.key"});
        static const QRegularExpression accepting(QStringLiteral("ACCEPT .*:(\\d+)"));
        QByteArray output;
        quint16 port = 0;
        while (port == 0 && service.waitForReadyRead(10000)) {
            output += service.readAll();
            port = quint16(accepting.match(QString::fromLatin1(output)).captured(1).toUInt());
        }
        QVERIFY2(port != 0, output.constData());
        ::kill(pid_t(service.processId()), SIGSTOP);

        bool done = false;
        std::exception_ptr failure;
        const auto call = [&]() -> QCoro::Task<> {
            try {
                co_await URLSession::data(
                    post(QStringLiteral("https://127.0.0.1:%1").arg(port), "/api/v1/verify/did", "{}"));
            } catch (...) {
                failure = std::current_exception();
            }
            done = true;
        };
        // The system takes the connection on the stopped service's behalf; then the service dies.
        QCoro::Task<> running = call();
        QTRY_VERIFY_WITH_TIMEOUT(hasConnectionTo(port), 30000);
        service.kill();
        QVERIFY(service.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
        QCOMPARE(codeOf(failure), int(URLError::networkConnectionLost));
    }

    // Transfers end with their owner: before it is gone, each caller has resumed, cancelled, and no
    // transfer or connection is left; a transfer the owner's task asks for later never starts.
    void transfersEndWithTheirOwner() {
        QTcpServer silent; // takes connections and never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort());
        URLRequest get;
        get.url = QUrl(base + QStringLiteral("/status"));
        const int before = HttpTransport::shared().liveTransfers();

        auto owner = std::make_unique<URLSessionTasks>();
        const std::shared_ptr<URLSessionTask> unused = owner->makeTask();
        const auto posted = std::make_shared<CallEnd>();
        const auto fetched = std::make_shared<CallEnd>();
        QCoro::Task<> first =
            follow(URLSession::data(post(base, "/api/v1/verify/did", "{}"), {}, owner->makeTask()), posted);
        QCoro::Task<> second = follow(URLSession::data(get, {}, owner->makeTask()), fetched);
        QTRY_VERIFY(hasConnectionTo(silent.serverPort()));
        QCOMPARE(HttpTransport::shared().liveTransfers(), before + 2);

        owner.reset();
        for (const auto& end : {posted, fetched}) {
            QVERIFY2(end->done, "a caller still waits for a reply nobody will take");
            QCOMPARE(codeOf(end->error), int(URLError::cancelled));
        }
        QCOMPARE(HttpTransport::shared().liveTransfers(), before);
        QTRY_VERIFY(!hasConnectionTo(silent.serverPort()));

        const auto late = std::make_shared<CallEnd>();
        QCoro::Task<> third = follow(URLSession::data(get, {}, unused), late);
        QVERIFY(late->done);
        QCOMPARE(codeOf(late->error), int(URLError::cancelled));
    }

    // Only identity encoding is asked for; a body in any other coding cannot pass for a good reply, and a
    // small compressed body that would expand without bound ends the call at once.
    void aReplyThatCannotBeDecodedFails_data() {
        QTest::addColumn<QByteArray>("coding");
        QTest::addColumn<QByteArray>("body");
        const QByteArray json = R"({"errorCode":0,"resultCode":0})";
        const QByteArray packed = gzip(json);
        QVERIFY(packed.startsWith("\x1f\x8b"));
        QByteArray corrupt = packed;
        corrupt[corrupt.size() / 2] = char(corrupt[corrupt.size() / 2] ^ 0x5a);
        QTest::newRow("corrupt gzip") << QByteArray("gzip") << corrupt;
        QTest::newRow("truncated gzip") << QByteArray("gzip") << packed.left(packed.size() - 6);
        QTest::newRow("gzip beyond the size limit") << QByteArray("gzip") << gzip(QByteArray(40 << 20, '\0'));
        QTest::newRow("unknown coding") << QByteArray("x-unknown") << json;
    }

    void aReplyThatCannotBeDecodedFails() {
        QFETCH(QByteArray, coding);
        QFETCH(QByteArray, body);
        RawHttpServer server;
        QVERIFY(server.start());
        server.setAnswers({RawHttpServer::Answer::http(
            200, {{"Content-Type", "application/json"}, {"Content-Encoding", coding}}, body)});
        const auto failure = failureOf(URLSession::data(post(server.baseURL(), "/api/v1/verify/did", "{}")));
        QCOMPARE(codeOf(failure), int(URLError::cannotDecodeContentData));
        QCOMPARE(server.received().size(), 1);
        QCOMPARE(server.received().first().header("Accept-Encoding"), QByteArray("identity"));
    }

    // The body of an API call (an activation code, a signature) goes to no server but the one it was meant
    // for; within that origin a redirect is followed.
    void redirectsStayWithinTheirOrigin_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("target"); // "other port", "other host", "same origin"
        QTest::addColumn<bool>("followed");
        QTest::newRow("307 to another port") << 307 << "other port" << false;
        QTest::newRow("308 to another port") << 308 << "other port" << false;
        QTest::newRow("302 to another host name") << 302 << "other host" << false;
        QTest::newRow("307 within the origin") << 307 << "same origin" << true;
    }

    void redirectsStayWithinTheirOrigin() {
        QFETCH(int, status);
        QFETCH(QString, target);
        QFETCH(bool, followed);
        RawHttpServer service;
        RawHttpServer elsewhere;
        QVERIFY(service.start() && elsewhere.start());
        elsewhere.setAnswers({RawHttpServer::Answer::http(200, {}, "{}")});
        QString location;
        if (target == "other port")
            location = elsewhere.baseURL() + "/moved";
        else if (target == "other host")
            location = service.baseURL("localhost") + "/moved";
        else
            location = "/moved";
        service.setAnswers({RawHttpServer::Answer::http(status, {{"Location", location.toUtf8()}}),
                            RawHttpServer::Answer::http(200, {}, R"({"moved":true})")});

        const QByteArray body = R"({"activationCode":"AB12CD"})";
        std::optional<URLLoadResult> result;
        const auto failure = failureOf([&]() -> QCoro::Task<> {
            result =
                co_await URLSession::data(post(service.baseURL(), "/api/v1/desktop/user/register", body));
        }());
        QCOMPARE(elsewhere.received().size(), 0);
        if (followed) {
            QVERIFY(!failure);
            QCOMPARE(result->data, QByteArray(R"({"moved":true})"));
            QCOMPARE(service.received().size(), 2);
            QCOMPARE(service.received().last().path, QByteArray("/moved"));
            QCOMPARE(service.received().last().body, body);
        } else {
            QCOMPARE(codeOf(failure), int(URLError::badServerResponse));
            QVERIFY(errorAs<URLError>(failure)->detail().contains("redirect"));
            QCOMPARE(service.received().size(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestHttpTransport)
#include "tst_httptransport.moc"
