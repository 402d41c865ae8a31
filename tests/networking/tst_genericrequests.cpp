#include "AsyncTest.h"
#include "IdentityServiceDouble.h"

#include "api/AlertModel.h"
#include "networking/NetworkingClient.h"
#include "networking/NetworkingError.h"

#include <QCoroTask>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// A model that builds itself from parsed JSON.
struct Fruit {
    QString name;
    static Fruit decode(const QJsonValue& json) {
        if (!json.isObject() || !json[QStringLiteral("name")].isString())
            throw std::runtime_error("not a fruit");
        return {json[QStringLiteral("name")].toString()};
    }
};

template <typename T> struct Collected {
    QList<T> values;
    std::optional<rx::Error> completion;
    rx::AnyCancellable token;
    bool ended() const { return completion.has_value(); }
    bool finished() const { return completion && !*completion; }
    rx::Error failure() const { return completion.value_or(nullptr); }
};

template <typename T> std::unique_ptr<Collected<T>> collect(const rx::Publisher<T>& publisher) {
    auto collected = std::make_unique<Collected<T>>();
    auto* c = collected.get();
    c->token =
        publisher.sink([c](const T& value) { c->values << value; }, [c](rx::Error e) { c->completion = e; });
    return collected;
}

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A request whose transport reports that the machine is offline.
class OfflineRequest : public NetworkingRequest {
protected:
    QCoro::Task<URLLoadResult> load(URLRequest, SessionConfiguration,
                                    std::shared_ptr<URLSessionTask>) override {
        throw URLError(URLError::notConnectedToInternet);
        co_return URLLoadResult{};
    }
};

// Any type holding a client gets the client's operations.
struct ClientHolder : NetworkingService<ClientHolder> {
    NetworkingClient* client = nullptr;
    NetworkingClient& network() { return *client; }
};

constexpr int timeoutMs = 10000;

using C = NetworkingClient;
using Alerts = std::vector<AlertModel>;
using Upload = rx::Publisher<DataWithProgress> (C::*)(const QString&, const QJsonObject&,
                                                      const MultipartData&);

// Every operation of one verb, taken by name.
struct VerbOperations {
    std::unique_ptr<NetworkingRequest> (C::*request)(const QString&, const QJsonObject&);
    rx::Publisher<QByteArray> (C::*dataPublisher)(const QString&, const QJsonObject&);
    rx::Publisher<rx::Void> (C::*voidPublisher)(const QString&, const QJsonObject&);
    rx::Publisher<QJsonValue> (C::*jsonPublisher)(const QString&, const QJsonObject&);
    rx::Publisher<Fruit> (C::*modelPublisher)(const QString&, const QJsonObject&,
                                              const std::optional<QString>&);
    rx::Publisher<std::vector<Fruit>> (C::*modelsPublisher)(const QString&, const QJsonObject&,
                                                            const std::optional<QString>&);
    rx::Publisher<AlertModel> (C::*decodablePublisher)(const QString&, const QJsonObject&,
                                                       const std::optional<QString>&);
    rx::Publisher<Alerts> (C::*collectionPublisher)(const QString&, const QJsonObject&,
                                                    const std::optional<QString>&);
    QCoro::Task<QByteArray> (C::*data)(QString, QJsonObject);
    QCoro::Task<void> (C::*nothing)(QString, QJsonObject);
    QCoro::Task<QJsonValue> (C::*json)(QString, QJsonObject);
    QCoro::Task<AlertModel> (C::*decodable)(QString, QJsonObject, std::optional<QString>);
    QCoro::Task<Alerts> (C::*collection)(QString, QJsonObject, std::optional<QString>);
    Upload upload;
};

#define VERB_OPERATIONS(name, verb, upload)                                                                  \
    VerbOperations {                                                                                         \
        &C::name, &C::verb##DataPublisher, &C::verb##VoidPublisher, &C::verb##JSONPublisher,                 \
            &C::verb##ModelPublisher<Fruit>, &C::verb##ModelsPublisher<Fruit>,                               \
            &C::verb##DecodablePublisher<AlertModel>, &C::verb##CollectionPublisher<Alerts>, &C::verb##Data, \
            &C::verb##Void, &C::verb##JSON, &C::name<AlertModel>, &C::verb##Collection<Alerts>, upload       \
    }

} // namespace

Q_DECLARE_METATYPE(VerbOperations)

class TestGenericRequests : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void everyVerbOffersEveryKind_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<VerbOperations>("operations");
        QTest::newRow("get") << QByteArray("GET") << VERB_OPERATIONS(get, get, nullptr);
        QTest::newRow("post") << QByteArray("POST") << VERB_OPERATIONS(post, post, &C::postUploadPublisher);
        QTest::newRow("put") << QByteArray("PUT") << VERB_OPERATIONS(put, put, &C::putUploadPublisher);
        QTest::newRow("patch") << QByteArray("PATCH")
                               << VERB_OPERATIONS(patch, patch, &C::patchUploadPublisher);
        QTest::newRow("delete") << QByteArray("DELETE") << VERB_OPERATIONS(delete_, delete, nullptr);
    }

    void everyVerbOffersEveryKind() {
        QFETCH(QByteArray, method);
        QFETCH(VerbOperations, operations);
        IdentityServiceDouble server;
        QVERIFY(server.start());
        server.setFallbackReply(
            ScriptedReply::json(200, R"({"name":"a","title":"t","items":[{"name":"b","title":"u"}]})"));
        NetworkingClient client(server.baseURL());
        client.defaultCollectionParsingKeyPath = QStringLiteral("items");
        const QString route = QStringLiteral("/kinds");
        const QJsonObject params{{"p", 1}};

        QCOMPARE(rawValue((client.*operations.request)(route, params)->httpMethod).toUtf8(), method);
        auto data = collect((client.*operations.dataPublisher)(route, params));
        auto nothing = collect((client.*operations.voidPublisher)(route, params));
        auto json = collect((client.*operations.jsonPublisher)(route, params));
        auto model = collect((client.*operations.modelPublisher)(route, params, std::nullopt));
        auto models = collect((client.*operations.modelsPublisher)(route, params, std::nullopt));
        auto decodable = collect((client.*operations.decodablePublisher)(route, params, std::nullopt));
        auto collection = collect((client.*operations.collectionPublisher)(route, params, std::nullopt));
        QTRY_VERIFY_WITH_TIMEOUT(data->ended() && nothing->ended() && json->ended() && model->ended() &&
                                     models->ended() && decodable->ended() && collection->ended(),
                                 timeoutMs);
        QVERIFY(data->finished() && nothing->finished() && json->finished() && model->finished() &&
                models->finished() && decodable->finished() && collection->finished());
        QCOMPARE(json->values.first()[QStringLiteral("name")].toString(), QStringLiteral("a"));
        QCOMPARE(model->values.first().name, QStringLiteral("a"));
        QCOMPARE(models->values.first().at(0).name, QStringLiteral("b"));
        QCOMPARE(decodable->values.first().title, QStringLiteral("t"));
        QCOMPARE(collection->values.first().at(0).title, QStringLiteral("u"));

        QVERIFY(!await((client.*operations.data)(route, params)).isEmpty());
        await((client.*operations.nothing)(route, params));
        QVERIFY(await((client.*operations.json)(route, params)).isObject());
        QCOMPARE(await((client.*operations.decodable)(route, params, std::nullopt)).title,
                 QStringLiteral("t"));
        QCOMPARE(await((client.*operations.collection)(route, params, std::nullopt)).at(0).title,
                 QStringLiteral("u"));

        qsizetype expected = 12;
        if (operations.upload) {
            const MultipartData part{QStringLiteral("f"), QByteArray("x"), QStringLiteral("f.txt"),
                                     QStringLiteral("text/plain")};
            auto upload = collect((client.*operations.upload)(route, params, part));
            QTRY_VERIFY_WITH_TIMEOUT(upload->ended(), timeoutMs);
            QVERIFY(
                server.lastRequest().header("content-type").value_or("").startsWith("multipart/form-data"));
            ++expected;
        }
        QCOMPARE(server.received().size(), expected);
        for (const auto& request : std::as_const(server.received()))
            QCOMPARE(request.method.toUtf8(), method);
    }

    void publisherRetriesWhileTheRetrierAnswers_data() {
        QTest::addColumn<QString>("retrier");
        QTest::addColumn<int>("succeedOnAttempt");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("no retrier") << "none" << 0 << 1 << "failed 1";
        QTest::newRow("retrier declines") << "declines" << 0 << 1 << "failed 1";
        QTest::newRow("retrier always answers") << "always" << 0 << 3 << "failed 3";
        QTest::newRow("second try succeeds") << "always" << 2 << 2 << "ok";
        QTest::newRow("retrier finishes without a value") << "empty" << 0 << 1 << "finished";
    }

    void publisherRetriesWhileTheRetrierAnswers() {
        QFETCH(QString, retrier);
        QFETCH(int, succeedOnAttempt);
        QFETCH(int, attempts);
        QFETCH(QString, outcome);

        IdentityServiceDouble server;
        QVERIFY(server.start());
        server.setHandler([&](const ReceivedRequest&) {
            const int attempt = int(server.received().size());
            if (attempt == succeedOnAttempt)
                return std::optional(ScriptedReply::json(200, "ok"));
            return std::optional(ScriptedReply::json(500, json({{"attempt", attempt}})));
        });
        NetworkingClient client(server.baseURL());
        if (retrier == QLatin1String("declines"))
            client.requestRetrier = [](const URLRequest&, const rx::Error&) { return std::nullopt; };
        else if (retrier == QLatin1String("always"))
            client.requestRetrier = [](const URLRequest&, const rx::Error&) { return rx::just(rx::Void{}); };
        else if (retrier == QLatin1String("empty"))
            client.requestRetrier = [](const URLRequest&, const rx::Error&) { return rx::empty<rx::Void>(); };

        auto result = collect(client.getDataPublisher(QStringLiteral("/data")));
        QTRY_VERIFY_WITH_TIMEOUT(result->ended(), timeoutMs);
        QCOMPARE(server.received().size(), attempts);
        if (outcome == QLatin1String("ok")) {
            QCOMPARE(result->values, QList<QByteArray>{"ok"});
            QVERIFY(result->finished());
        } else if (outcome == QLatin1String("finished")) {
            QVERIFY(result->values.isEmpty());
            QVERIFY(result->finished());
        } else {
            const auto error = errorAs<NetworkingError>(result->failure());
            QVERIFY(error);
            QCOMPARE(error->status, NetworkingError::Status::internalServerError);
            QCOMPARE(error->jsonPayload, QJsonValue(QJsonObject{{"attempt", attempts}}));
        }
    }

    void requestsCarryTheClientsRetryHook() {
        NetworkingRequest bare;
        QVERIFY(!bare.requestRetrier);
        QCOMPARE(bare.maxRetryCount, 3);

        auto client = std::make_unique<NetworkingClient>(QStringLiteral("http://127.0.0.1:1"));
        const auto request = client->post(QStringLiteral("/x"));
        QVERIFY(request->requestRetrier);
        const URLRequest failed;
        const auto error = std::make_exception_ptr(NetworkingError::unknown);
        // The client has no retrier of its own: no retry.
        QVERIFY(!request->requestRetrier(failed, error));
        client->requestRetrier = [](const URLRequest&, const rx::Error&) { return rx::just(rx::Void{}); };
        QVERIFY(request->requestRetrier(failed, error));
        // A released client retries nothing, and the request does not keep it alive.
        client.reset();
        QVERIFY(!request->requestRetrier(failed, error));
    }

    void aRetryCarriesTheRenewedConfiguration() {
        IdentityServiceDouble server;
        QVERIFY(server.start());
        server.setHandler([](const ReceivedRequest& request) {
            return std::optional(
                ScriptedReply::json(request.header("authorization") == "renewed" ? 200 : 401, "{}"));
        });
        NetworkingClient client(server.baseURL());
        client.requestRetrier = [&client](const URLRequest& failed, const rx::Error&) {
            if (failed.value(QStringLiteral("authorization")))
                return std::optional<rx::Publisher<rx::Void>>();
            client.headers = {{QStringLiteral("Authorization"), QStringLiteral("renewed")}};
            return std::optional(rx::just(rx::Void{}));
        };
        auto result = collect(client.postVoidPublisher(QStringLiteral("/renew")));
        QTRY_VERIFY_WITH_TIMEOUT(result->ended(), timeoutMs);
        QVERIFY(result->finished());
        QCOMPARE(result->values.size(), 1);
        QCOMPARE(server.received().size(), 2);
    }

    void aFailedStatusIsNotDecoded() {
        IdentityServiceDouble server;
        QVERIFY(server.start());
        // Would fail decoding with a type mismatch, were it decoded.
        server.setFallbackReply(ScriptedReply::json(404, R"({"title":5})"));
        NetworkingClient client(server.baseURL());

        auto result = collect(client.postDecodablePublisher<AlertModel>(QStringLiteral("/alert")));
        QTRY_VERIFY_WITH_TIMEOUT(result->ended(), timeoutMs);
        const auto error = errorAs<NetworkingError>(result->failure());
        QVERIFY(error);
        QCOMPARE(error->status, NetworkingError::Status::notFound);
        QCOMPARE(error->jsonPayload, QJsonValue(QJsonObject{{"title", 5}}));

        const auto thrown =
            errorAs<NetworkingError>(failureOf(client.put<AlertModel>(QStringLiteral("/alert"))));
        QVERIFY(thrown);
        QCOMPARE(thrown->status, NetworkingError::Status::notFound);
    }

    void collectionsUseTheDefaultMember_data() {
        QTest::addColumn<QString>("defaultKeyPath");
        QTest::addColumn<QString>("keyPath");
        QTest::addColumn<int>("count"); // -1: the collection does not decode
        QTest::newRow("default member") << "items"
                                        << "" << 2;
        QTest::newRow("no default: the whole object") << ""
                                                      << "" << -1;
        QTest::newRow("the caller's member wins") << "other"
                                                  << "items" << 2;
        QTest::newRow("a member the reply lacks") << "items"
                                                  << "missing" << -1;
        QTest::newRow("a dotted name is one member") << "items.name"
                                                     << "" << -1;
    }

    void collectionsUseTheDefaultMember() {
        QFETCH(QString, defaultKeyPath);
        QFETCH(QString, keyPath);
        QFETCH(int, count);
        IdentityServiceDouble server;
        QVERIFY(server.start());
        server.setFallbackReply(
            ScriptedReply::json(200, R"({"items":[{"title":"a","name":"x"},{"title":"b","name":"y"}]})"));
        NetworkingClient client(server.baseURL());
        if (!defaultKeyPath.isEmpty())
            client.defaultCollectionParsingKeyPath = defaultKeyPath;
        const std::optional<QString> path = keyPath.isEmpty() ? std::nullopt : std::optional(keyPath);

        using Alerts = std::vector<AlertModel>;
        auto collection = collect(client.getCollectionPublisher<Alerts>(QStringLiteral("/list"), {}, path));
        auto models = collect(client.getModelsPublisher<Fruit>(QStringLiteral("/list"), {}, path));
        QTRY_VERIFY_WITH_TIMEOUT(collection->ended() && models->ended(), timeoutMs);
        if (count < 0) {
            QVERIFY(errorAs<coding::DecodingError>(collection->failure()));
            // Models of a payload that is not a list are the empty list.
            QCOMPARE(models->values.size(), 1);
            QVERIFY(models->values.first().empty());
        } else {
            QCOMPARE(collection->values.size(), 1);
            QCOMPARE(collection->values.first().size(), size_t(count));
            QCOMPARE(collection->values.first().at(1).title, QStringLiteral("b"));
            QCOMPARE(models->values.first().at(0).name, QStringLiteral("x"));
        }

        const auto failure = failureOf(client.getCollection<Alerts>(QStringLiteral("/list"), {}, path));
        QCOMPARE(errorAs<coding::DecodingError>(failure).has_value(), count < 0);
        QCOMPARE(failure == nullptr, count >= 0);
    }

    void theJSONStepFailsWithTheParsersError_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty body") << QByteArray();
        QTest::newRow("bare scalar") << QByteArray("true");
        QTest::newRow("html") << QByteArray("<html></html>");
    }

    void theJSONStepFailsWithTheParsersError() {
        QFETCH(QByteArray, body);
        IdentityServiceDouble server;
        QVERIFY(server.start());
        server.setFallbackReply(ScriptedReply::json(200, body));
        NetworkingClient client(server.baseURL());

        auto data = collect(client.patchDataPublisher(QStringLiteral("/x")));
        auto nothing = collect(client.patchVoidPublisher(QStringLiteral("/x")));
        auto parsed = collect(client.patchJSONPublisher(QStringLiteral("/x")));
        auto decoded = collect(client.patchDecodablePublisher<AlertModel>(QStringLiteral("/x")));
        QTRY_VERIFY_WITH_TIMEOUT(data->ended() && nothing->ended() && parsed->ended() && decoded->ended(),
                                 timeoutMs);
        QVERIFY(data->finished());
        QCOMPARE(data->values, QList<QByteArray>{body});
        QVERIFY(nothing->finished());
        QVERIFY(errorAs<JSONSerializationError>(parsed->failure()));
        QVERIFY(errorAs<JSONSerializationError>(decoded->failure()));
        QVERIFY(errorAs<JSONSerializationError>(failureOf(client.patchJSON(QStringLiteral("/x")))));
        QVERIFY(!failureOf(client.patchVoid(QStringLiteral("/x"))));
    }

    void anUploadReportsProgressAndSendsItsPartsInOrder() {
        IdentityServiceDouble server;
        QVERIFY(server.start());
        server.setFallbackReply(ScriptedReply::json(201, R"({"stored":true})"));
        NetworkingClient client(server.baseURL());
        const QByteArray big(512 * 1024, 'z');
        const std::vector<MultipartData> parts{
            {QStringLiteral("first"), big, QStringLiteral("a.txt"), QStringLiteral("text/plain")},
            {QStringLiteral("second"), QByteArray("2nd"), QStringLiteral("b.bin"),
             QStringLiteral("application/octet-stream")}};

        auto result =
            collect(client.postUploadPublisher(QStringLiteral("/upload"), QJsonObject{{"k", "v"}}, parts));
        QTRY_VERIFY_WITH_TIMEOUT(result->ended(), timeoutMs);
        QVERIFY(result->finished());

        QCOMPARE(server.received().size(), 1);
        const auto& sent = server.received().first();
        const QByteArray contentType = sent.header("content-type").value_or("");
        QVERIFY(contentType.startsWith("multipart/form-data; boundary=Boundary-"));
        const QByteArray boundary = contentType.mid(contentType.indexOf('=') + 1);
        const qsizetype field = sent.body.indexOf(R"(name="k")");
        const qsizetype first = sent.body.indexOf(R"(name="first"; filename="a.txt")");
        const qsizetype second = sent.body.indexOf(R"(name="second"; filename="b.bin")");
        QVERIFY(field >= 0 && field < first && first < second);
        QVERIFY(sent.body.endsWith("--" + boundary + "--"));

        // Progress first, rising to the whole body; then the reply alone, with an empty progress.
        QVERIFY(result->values.size() >= 2);
        const auto& reply = result->values.last();
        QCOMPARE(reply.first, std::optional<QByteArray>(R"({"stored":true})"));
        QCOMPARE(reply.second, Progress{});
        qint64 previous = 0;
        for (qsizetype i = 0; i + 1 < result->values.size(); ++i) {
            const auto& [data, progress] = result->values[i];
            QVERIFY(!data);
            QCOMPARE(progress.totalUnitCount, qint64(sent.body.size()));
            QVERIFY(progress.completedUnitCount >= previous);
            previous = progress.completedUnitCount;
        }
        QCOMPARE(previous, qint64(sent.body.size()));
    }

    void transportFailuresReachPublishersAsNetworkingErrors_data() {
        QTest::addColumn<bool>("offline");
        QTest::addColumn<NetworkingError::Status>("status");
        QTest::newRow("offline") << true << NetworkingError::Status::notConnectedToInternet;
        QTest::newRow("nobody listening") << false << NetworkingError::Status::cannotConnectToHost;
    }

    void transportFailuresReachPublishersAsNetworkingErrors() {
        QFETCH(bool, offline);
        QFETCH(NetworkingError::Status, status);
        QString closedPort;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        }
        NetworkingClient client(closedPort);
        std::shared_ptr<NetworkingRequest> request;
        if (offline) {
            request = std::make_shared<OfflineRequest>();
            client.configure(*request);
        } else {
            request = client.get(QStringLiteral("/x"));
        }
        auto result = collect(request->publisher());
        QTRY_VERIFY_WITH_TIMEOUT(result->ended(), timeoutMs);
        const auto error = errorAs<NetworkingError>(result->failure());
        QVERIFY(error);
        QCOMPARE(error->status, status);
    }

    void cancellingAbortsTheTransfer() {
        // A server that takes the request and never answers; it sees when the client hangs up.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QPointer<QTcpSocket> connection;
        bool hungUp = false;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            connection = server.nextPendingConnection();
            connect(connection, &QTcpSocket::disconnected, this, [&] { hungUp = true; });
        });
        NetworkingClient client(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()));
        auto result = collect(client.getDataPublisher(QStringLiteral("/slow")));
        QTRY_VERIFY_WITH_TIMEOUT(connection && connection->bytesAvailable() > 0, timeoutMs);
        result->token.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(hungUp, timeoutMs);
        QTest::qWait(50);
        QVERIFY(!result->ended());
        QVERIFY(result->values.isEmpty());
    }

    void aServiceBehavesAsItsClient() {
        IdentityServiceDouble server;
        QVERIFY(server.start());
        server.setFallbackReply(ScriptedReply::json(200, R"({"fruits":[{"name":"Apple"},{"name":"Pear"}]})"));
        NetworkingClient client(server.baseURL());
        client.defaultCollectionParsingKeyPath = QStringLiteral("fruits");
        ClientHolder holder;
        holder.client = &client;

        auto result = collect(holder.deleteModelsPublisher<Fruit>(QStringLiteral("/fruits")));
        QTRY_VERIFY_WITH_TIMEOUT(result->ended(), timeoutMs);
        QVERIFY(result->finished());
        QCOMPARE(result->values.first().size(), size_t(2));
        QCOMPARE(result->values.first().at(1).name, QStringLiteral("Pear"));
        QCOMPARE(server.received().first().method, QStringLiteral("DELETE"));

        const auto alert = await(holder.post<AlertModel>(QStringLiteral("/alert")));
        // Unknown members are ignored: the alert decodes with every field absent.
        QCOMPARE(alert, AlertModel{});
        QCOMPARE(server.lastRequest().method, QStringLiteral("POST"));
    }

    void queryStringKeepsEmptyRenderings_data() {
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QJsonObject{} << "";
        QTest::newRow("empty list first") << QJsonObject{{"a", QJsonArray{}}, {"b", 1}} << "&b=1";
        QTest::newRow("empty dictionary last") << QJsonObject{{"a", 1}, {"b", QJsonObject{}}} << "a=1&";
    }

    void queryStringKeepsEmptyRenderings() {
        QFETCH(QJsonObject, params);
        QFETCH(QString, expected);
        QCOMPARE(NetworkingRequest::queryString(params), expected);
    }
};

QTEST_GUILESS_MAIN(TestGenericRequests)
#include "tst_genericrequests.moc"
