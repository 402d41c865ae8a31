#include "networking/Multipart.h"
#include "networking/NetworkingLogger.h"
#include "networking/NetworkingRequest.h"

#include <QJsonArray>
#include <QTest>

namespace {

URLRequest postRequest() {
    URLRequest request;
    request.url = QUrl("https://api.example/api/v1/verify/did");
    request.httpMethod = "POST";
    request.setValue("application/json", "Content-Type");
    request.setValue("mac", "x-source-app");
    request.httpBody = R"({"a":1})";
    return request;
}

URLResponse httpResponse(int status) {
    return {QUrl("https://api.example/api/v1/verify/did"), status, {}};
}

} // namespace

class TestNetworkingLogger : public QObject {
    Q_OBJECT

    QStringList m_lines;

private slots:
    void initTestCase() {
        NetworkingLogger::setOutput([this](const QString& line) { m_lines << line; });
    }
    void init() { m_lines.clear(); }
    void cleanupTestCase() { NetworkingLogger::setOutput({}); }

    void linesPerLevel_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<QStringList>("expected");
        const QString curl = "\"curl \\\"https://api.example/api/v1/verify/did\\\" \\\\\\n\\t-X POST "
                             "\\\\\\n\\t-H \\'Content-Type: application/json\\' \\\\\\n\\t-H "
                             "\\'x-source-app: mac\\' \\\\\\n\\t-d \\'{\\\"a\\\":1}\\'\"";
        const QStringList info{"\"POST \\'https://api.example/api/v1/verify/did\\'\"",
                               R"("  Content-Type : application/json")", R"("  x-source-app : mac")",
                               "\"  HttpBody : {\\\"a\\\":1}\"",
                               "\"200 \\'https://api.example/api/v1/verify/did\\'\""};
        QTest::newRow("off") << int(NetworkingLogLevel::off) << QStringList{};
        QTest::newRow("info") << int(NetworkingLogLevel::info) << info;
        QStringList debug = info.mid(0, 4);
        debug << curl << info[4] << "\"{\\\"ok\\\":true}\"";
        QTest::newRow("debug") << int(NetworkingLogLevel::debug) << debug;
    }

    void linesPerLevel() {
        QFETCH(int, level);
        QFETCH(QStringList, expected);
        NetworkingLogger logger;
        logger.logLevel = NetworkingLogLevel(level);
        logger.log(postRequest());
        const URLResponse response = httpResponse(200);
        logger.log(&response, R"({"ok":true})");
        QCOMPARE(m_lines, expected);
    }

    void curlCommand_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QStringList>("headers");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("GET has no -X") << "GET" << QStringList{} << QByteArray() << "curl \"http://h/p\"";
        QTest::newRow("HEAD has no -X") << "HEAD" << QStringList{} << QByteArray() << "curl \"http://h/p\"";
        QTest::newRow("lower-case get is a method of its own")
            << "get" << QStringList{} << QByteArray() << "curl \"http://h/p\" \\\n\t-X get";
        QTest::newRow("cookie left out") << "GET" << QStringList{"Cookie", "s=1", "Accept", "x"}
                                         << QByteArray() << "curl \"http://h/p\" \\\n\t-H 'Accept: x'";
        QTest::newRow("body that is not UTF-8")
            << "PUT" << QStringList{} << QByteArray("\xff\xfe") << "curl \"http://h/p\" \\\n\t-X PUT";
        QTest::newRow("quotes are not escaped") << "POST" << QStringList{} << QByteArray("it's")
                                                << "curl \"http://h/p\" \\\n\t-X POST \\\n\t-d 'it's'";
    }

    void curlCommand() {
        QFETCH(QString, method);
        QFETCH(QStringList, headers);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        URLRequest request;
        request.url = QUrl("http://h/p");
        request.httpMethod = method;
        for (int i = 0; i + 1 < headers.size(); i += 2)
            request.setValue(headers[i + 1], headers[i]);
        if (!body.isNull())
            request.httpBody = body;
        QCOMPARE(NetworkingLogger().curlCommand(request), expected);
    }

    void cookieIsAmongTheHeaderLines() {
        NetworkingLogger logger;
        logger.logLevel = NetworkingLogLevel::info;
        URLRequest request;
        request.url = QUrl("http://h/p");
        request.httpMethod = "GET";
        request.setValue("s=1", "Cookie");
        logger.log(request);
        QCOMPARE(m_lines, QStringList({"\"GET \\'http://h/p\\'\"", R"("  Cookie : s=1")"}));
    }

    void bodiesThatAreNotUTF8() {
        NetworkingLogger logger;
        logger.logLevel = NetworkingLogLevel::debug;
        URLRequest request = postRequest();
        request.httpBody = QByteArray("\xc3\x28");
        logger.log(request);
        QVERIFY(!m_lines.join('\n').contains("HttpBody"));
        QVERIFY(!m_lines.join('\n').contains("-d "));
        m_lines.clear();
        logger.log(nullptr, QByteArray("a\xffz"));
        QCOMPARE(m_lines, QStringList({QString("\"a") + QChar(0xFFFD) + "z\""}));
    }

    void secretsNeverReachTheOutput_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("json") << QString() << QByteArray(R"({"activationCode":"AC-778899","email":"a@b.c"})");
        QTest::newRow("escaped quote in the code")
            << QString() << QByteArray("{\"email\":\"a@b.c\",\"activationCode\":\"AC\\\"778899\"}");
        QTest::newRow("form") << QString() << QByteArray("email=a%40b.c&activationCode=AC-778899");
        QTest::newRow("numeric pin") << QString() << QByteArray(R"({"pin":778899,"email":"a@b.c"})");
        QTest::newRow("escaped key") << QString() << QByteArray(R"({"email":"a@b.c","o\u0074p":"778899"})");
        QTest::newRow("nested member")
            << QString()
            << QByteArray(R"({"email":"a@b.c","user":{"pin":{"digits":[7,7,8,8,9,9],"v":"778899"}}})");
        QTest::newRow("nested form key")
            << QString() << QByteArray("email=a%40b.c&user%5Bpin%5D=778899&a[otp]=778899");
        QTest::newRow("form, the secret first")
            << QString() << QByteArray("activationCode=AC-778899&email=a%40b.c");
        QTest::newRow("encoded form key") << QString() << QByteArray("email=a%40b.c&p%69n=778899");
        QTest::newRow("multipart field")
            << QString()
            << QByteArray("--B\r\nContent-Disposition: form-data; name=\"email\"\r\n\r\na@b.c\r\n"
                          "--B\r\nContent-Disposition: form-data; name=\"otp\"\r\n\r\n778899\r\n--B--\r\n");
        QTest::newRow("query item") << "email=a%40b.c&otp=778899" << QByteArray(R"({"a":1})");
        QTest::newRow("sign-in code")
            << QString() << QByteArray(R"({"uniqueId":"778899","email":"a@b.c","suid":"s-1"})");
        QTest::newRow("second code")
            << QString() << QByteArray(R"({"email":"a@b.c","uniqueId":"K7MQ3T","validationCode":778899})");
        QTest::newRow("sign-in code in a QR text")
            << QString() << QByteArray(R"({"qid":"778899","email":"a@b.c"})");
        QTest::newRow("second code, form") << QString() << QByteArray("email=a%40b.c&validationCode=778899");
    }

    void secretsNeverReachTheOutput() {
        QFETCH(QString, query);
        QFETCH(QByteArray, body);
        NetworkingLogger logger;
        logger.logLevel = NetworkingLogLevel::debug;
        URLRequest request = postRequest();
        if (!query.isEmpty())
            request.url.setQuery(query);
        request.httpBody = body;
        logger.log(request);
        const URLResponse response = httpResponse(200);
        logger.log(&response, R"({"otp":"778899","pin":"778899ABCDEF","user":{"o\u0074p":778899}})");
        const QString all = m_lines.join('\n');
        QVERIFY(!all.contains("778899"));
        QVERIFY(all.contains("a@b.c") || all.contains("a%40b.c"));
        QVERIFY(all.contains("HttpBody"));
    }

    void replyThatIsNotHTTPHasNoStatusLine() {
        NetworkingLogger logger;
        logger.logLevel = NetworkingLogLevel::info;
        const URLResponse fileResponse{QUrl("file:///tmp/x"), std::nullopt, {}};
        logger.log(&fileResponse, "data");
        QVERIFY(m_lines.isEmpty());
    }

    void debugForm_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "abc"
                               << "\"abc\"";
        QTest::newRow("escapes") << QString("a\\b\"c'd\te\rf\ng") + QChar(0)
                                 << "\"a\\\\b\\\"c\\'d\\te\\rf\\ng\\0\"";
        QTest::newRow("control") << QString(QChar(0x1b)) << R"("\u{1B}")";
        QTest::newRow("non-ASCII stays") << QString::fromUtf8("é") << QString::fromUtf8("\"é\"");
        QTest::newRow("outside the basic plane, next to an escape")
            << QString::fromUtf8("\xF0\x9F\x94\x91\n") << QString::fromUtf8("\"\xF0\x9F\x94\x91\\n\"");
    }

    void debugForm() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(NetworkingLogger::debugForm(text), expected);
    }

    void multipartBodies_data() {
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<int>("parts");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("nothing") << QJsonObject{} << 0 << QByteArray("--B--");
        QTest::newRow("true and 12")
            << QJsonObject{{"f", true}, {"n", 12}} << 0
            << QByteArray("--B\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\n1\r\n"
                          "--B\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n12\r\n--B--");
        QTest::newRow("empty file")
            << QJsonObject{} << 1
            << QByteArray("--B\r\nContent-Disposition: form-data; name=\"f0\"; filename=\"a0\"\r\n"
                          "Content-Type: text/plain\r\n\r\n\r\n--B--");
        QTest::newRow("fields before parts, parts in order")
            << QJsonObject{{"k", "v"}} << 2
            << QByteArray("--B\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n"
                          "--B\r\nContent-Disposition: form-data; name=\"f0\"; "
                          "filename=\"a0\"\r\nContent-Type: text/plain\r\n\r\n\r\n"
                          "--B\r\nContent-Disposition: form-data; name=\"f1\"; "
                          "filename=\"a1\"\r\nContent-Type: text/plain\r\n\r\nx\r\n--B--");
    }

    void multipartBodies() {
        QFETCH(QJsonObject, params);
        QFETCH(int, parts);
        QFETCH(QByteArray, expected);
        std::vector<MultipartData> files;
        for (int i = 0; i < parts; ++i)
            files.push_back({QString("f%1").arg(i), QByteArray(i, 'x'), QString("a%1").arg(i), "text/plain"});
        QCOMPARE(NetworkingRequest().multipartBody(params, files, "B"), expected);
    }

    void httpMethodRawValues() {
        QCOMPARE(httpMethodFromRawValue("DELETE"), std::optional<HTTPMethod>(HTTPMethod::delete_));
        QVERIFY(!httpMethodFromRawValue("post"));
        QVERIFY(!httpMethodFromRawValue("HEAD"));
    }
};

QTEST_GUILESS_MAIN(TestNetworkingLogger)
#include "tst_networkinglogger.moc"
