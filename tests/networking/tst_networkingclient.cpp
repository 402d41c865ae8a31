#include "AsyncTest.h"
#include "IdentityServiceDouble.h"
#include "RecordingCrashReporter.h"
#include "api/CommonResponse.h"
#include "api/CurrentUser.h"
#include "networking/NetworkingClient.h"

#include <QJsonArray>
#include <QStandardPaths>
#include <QTest>

namespace {

struct Named {
    QString name;
    static Named decode(const QJsonValue& json) {
        if (!json.isObject() || !json.toObject().value("name").isString())
            throw std::runtime_error("no name");
        return {json.toObject().value("name").toString()};
    }
};

} // namespace

class TestNetworkingClient : public QObject {
    Q_OBJECT

    IdentityServiceDouble* m_service = nullptr;

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        NetworkingLogger::setOutput([](const QString&) {});
        RecordingCrashReporter::install();
    }

    void init() {
        m_service = new IdentityServiceDouble(this);
        QVERIFY(m_service->start());
    }

    void cleanup() { delete m_service; }

    void resourceJSON_data() {
        QTest::addColumn<QJsonValue>("json");
        QTest::addColumn<std::optional<QString>>("keyPath");
        QTest::addColumn<QJsonValue>("expected");
        const QJsonObject inner{{"x", 1}};
        const QJsonObject object{{"data", inner}};
        QTest::newRow("member") << QJsonValue(object) << std::optional<QString>("data") << QJsonValue(inner);
        QTest::newRow("other key") << QJsonValue(object) << std::optional<QString>("other")
                                   << QJsonValue(object);
        QTest::newRow("empty key") << QJsonValue(object) << std::optional<QString>("") << QJsonValue(object);
        QTest::newRow("no key") << QJsonValue(object) << std::optional<QString>() << QJsonValue(object);
        const QJsonObject withNull{{"data", QJsonValue::Null}};
        QTest::newRow("null member") << QJsonValue(withNull) << std::optional<QString>("data")
                                     << QJsonValue(withNull);
        const QJsonArray array{object};
        QTest::newRow("array") << QJsonValue(array) << std::optional<QString>("data") << QJsonValue(array);
        const QJsonObject nested{{"a", QJsonObject{{"b", 1}}}, {"a.b", 2}};
        QTest::newRow("dot is part of the name")
            << QJsonValue(nested) << std::optional<QString>("a.b") << QJsonValue(2);
    }

    void resourceJSON() {
        QFETCH(QJsonValue, json);
        QFETCH(std::optional<QString>, keyPath);
        QFETCH(QJsonValue, expected);
        QCOMPARE(NetworkingClient("http://h").resourceJSON(json, keyPath), expected);
    }

    void listsOfModels() {
        NetworkingClient client("http://h");
        const QJsonObject object{{"name", "a"}};
        QVERIFY(client.toModels<Named>(object).empty());
        QVERIFY(client.decodeArray<CommonResponse>(object).empty());
        const QJsonArray list{QJsonObject{{"name", "a"}}, QJsonObject{{"name", 2}}};
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, client.toModels<Named>(list));
        const QJsonArray replies{QJsonObject{{"errorCode", 1}}, QJsonObject{{"errorCode", "x"}}};
        QVERIFY_THROWS_EXCEPTION(coding::DecodingError, client.decodeArray<CommonResponse>(replies));
        const auto decoded =
            client.toModels<Named>(QJsonObject{{"items", QJsonArray{QJsonObject{{"name", "b"}}}}}, "items");
        QCOMPARE(decoded.size(), size_t(1));
        QCOMPARE(decoded[0].name, "b");
    }

    void postAndDecode_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>(
            "outcome"); // 0 decoded, 1 JSON parser error, 2 decoding error, 3 NetworkingError
        QTest::newRow("empty object decodes with every field absent") << 200 << QByteArray("{}") << 0;
        QTest::newRow("empty body is the parser's error") << 200 << QByteArray() << 1;
        QTest::newRow("html is the parser's error") << 200 << QByteArray("<html/>") << 1;
        QTest::newRow("bare scalar is the parser's error") << 200 << QByteArray("true") << 1;
        QTest::newRow("wrong member type") << 200 << QByteArray(R"({"resultCode":"0"})") << 2;
        QTest::newRow("top-level array") << 200 << QByteArray("[]") << 2;
        QTest::newRow("404 passes through") << 404 << QByteArray("{}") << 3;
    }

    void postAndDecode() {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(int, outcome);
        m_service->setReply("/r", ScriptedReply::json(status, reply));
        NetworkingClient client(m_service->baseURL());
        client.parameterEncoding = ParameterEncoding::json;
        std::optional<CommonResponse> decoded;
        std::exception_ptr failure;
        try {
            decoded = await(client.post<CommonResponse>("/r", Params{{"a", 1}}));
        } catch (...) {
            failure = std::current_exception();
        }
        switch (outcome) {
        case 0:
            QCOMPARE(decoded, CommonResponse{});
            break;
        case 1:
            QVERIFY(errorAs<JSONSerializationError>(failure));
            // The flows show this text to the user: the platform's wording, without the parser's jargon.
            QCOMPARE(errorAs<JSONSerializationError>(failure)->message(),
                     QString("The data couldn\u2019t be read because it isn\u2019t in the correct format."));
            break;
        case 2:
            QVERIFY(errorAs<coding::DecodingError>(failure));
            break;
        default:
            QVERIFY(errorAs<NetworkingError>(failure));
            QCOMPARE(errorAs<NetworkingError>(failure)->status, NetworkingError::Status::notFound);
        }
        QCOMPARE(m_service->lastRequest().body, QByteArray(R"({"a":1})"));
    }

    void requestsTakeTheConfigurationOfTheirMoment() {
        NetworkingClient client("http://h", 12);
        client.headers.append(qMakePair(QString("X-A"), QString("1")));
        client.parameterEncoding = ParameterEncoding::json;
        client.sessionConfiguration.maximumResponseBytes = 77;
        const auto before = client.makeRequest(HTTPMethod::post, "/p", {{"k", 1}});
        client.setLogLevel(NetworkingLogLevel::debug);
        const auto after = client.makeRequest(HTTPMethod::put, "/q", {});
        QCOMPARE(before->baseURL, "http://h");
        QCOMPARE(before->route, "/p");
        QCOMPARE(before->httpMethod, HTTPMethod::post);
        QCOMPARE(before->timeout, std::optional<double>(12));
        QCOMPARE(before->headers, client.headers);
        QCOMPARE(before->parameterEncoding, ParameterEncoding::json);
        QCOMPARE(before->sessionConfiguration->maximumResponseBytes, 77);
        QCOMPARE(before->logger.logLevel, NetworkingLogLevel::off);
        QCOMPARE(after->logger.logLevel, NetworkingLogLevel::debug);
        QCOMPARE(NetworkingClient("http://h").parameterEncoding, ParameterEncoding::urlEncoded);
    }

    void paramsOfModels() {
        CommonResponse response;
        response.errorCode = 3;
        QCOMPARE(asParams(response), Params({{"errorCode", 3}}));
        QCOMPARE(asParams(CommonResponse{}), Params{});
        try {
            asParams(std::vector<CurrentUser>{});
            QFAIL("a list is no parameter dictionary");
        } catch (const coding::EncodingError& e) {
            QCOMPARE(e.debugDescription(), "Could not cast JSON content to Params");
            QVERIFY(e.codingPath().empty());
        }
    }
};

QTEST_GUILESS_MAIN(TestNetworkingClient)
#include "tst_networkingclient.moc"
