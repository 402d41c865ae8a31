#include "NetworkingError.h"

#include <QJsonObject>
#include <QTest>

using Status = NetworkingError::Status;

class TestNetworkingError : public QObject {
    Q_OBJECT

private slots:
    void statusFromCode_data() {
        QTest::addColumn<qint64>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("404") << qint64(404) << "notFound";
        QTest::newRow("299 has no case") << qint64(299) << "unknown";
        QTest::newRow("444 after 451") << qint64(444) << "noResponse";
        QTest::newRow("103") << qint64(103) << "unknown";
        QTest::newRow("419") << qint64(419) << "unknown";
        QTest::newRow("509") << qint64(509) << "unknown";
        QTest::newRow("600") << qint64(600) << "unknown";
        QTest::newRow("-1009") << qint64(-1009) << "notConnectedToInternet";
        QTest::newRow("-1018") << qint64(-1018) << "unknown";
        QTest::newRow("-1021") << qint64(-1021) << "unknown";
        QTest::newRow("308 keeps its spelling") << qint64(308) << "permenantRedirect";
        QTest::newRow("0") << qint64(0) << "networkUnreachable";
    }

    void statusFromCode() {
        QFETCH(qint64, code);
        QFETCH(QString, name);
        const NetworkingError error = NetworkingError::fromStatusCode(code);
        QCOMPARE(error.errorDescription(), name);
        QVERIFY(!error.jsonPayload);
    }

    void everyCaseRoundTrips() {
        QCOMPARE(NetworkingError::allStatuses().size(), size_t(110));
        for (Status s : NetworkingError::allStatuses()) {
            QCOMPARE(NetworkingError::statusFromRawValue(static_cast<qint64>(s)), std::optional<Status>(s));
            QVERIFY(!NetworkingError::caseName(s).isEmpty());
        }
    }

    void httpFailureRunIsExactly3xxTo5xx() {
        int inRun = 0;
        for (Status s : NetworkingError::allStatuses()) {
            const qint64 code = static_cast<qint64>(s);
            const bool expected = code >= 300 && code <= 511;
            QCOMPARE(NetworkingError::isHTTPFailure(s), expected);
            inRun += expected;
        }
        QCOMPARE(inRun, 53);
    }

    void description_data() {
        QTest::addColumn<qint64>("code");
        QTest::addColumn<QString>("words");
        QTest::newRow("notConnectedToInternet") << qint64(-1009) << "Not Connected To Internet";
        QTest::newRow("badURL") << qint64(-1000) << "Bad Url";
        QTest::newRow("IMUsed") << qint64(226) << "Im Used";
        QTest::newRow("httpRequestSentToHTTPSPort") << qint64(497) << "Http Request Sent To Https Port";
        QTest::newRow("unknown") << qint64(-1) << "Unknown";
        QTest::newRow("transportSecurity") << qint64(-1022) << "Transport Security Require Secure Connection";
    }

    void description() {
        QFETCH(qint64, code);
        QFETCH(QString, words);
        QCOMPARE(NetworkingError::fromStatusCode(code).description(), words);
    }

    void fromError_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("payload");
        QTest::newRow("offline url error") << 0 << "notConnectedToInternet" << false;
        QTest::newRow("url error without case") << 1 << "unknown" << false;
        QTest::newRow("networking error kept whole") << 2 << "conflict" << true;
        QTest::newRow("foreign error") << 3 << "unknown" << false;
    }

    void fromError() {
        QFETCH(int, kind);
        QFETCH(QString, name);
        QFETCH(bool, payload);
        std::exception_ptr error;
        switch (kind) {
        case 0:
            error = std::make_exception_ptr(URLError(URLError::notConnectedToInternet));
            break;
        case 1:
            error = std::make_exception_ptr(URLError(-1018));
            break;
        case 2:
            error = std::make_exception_ptr(NetworkingError(Status::conflict, QJsonObject{{"errorCode", 3}}));
            break;
        default:
            error = std::make_exception_ptr(std::runtime_error("disk"));
            break;
        }
        const NetworkingError mapped = NetworkingError::fromError(error);
        QCOMPARE(mapped.errorDescription(), name);
        QCOMPARE(mapped.jsonPayload.has_value(), payload);
        if (payload)
            QCOMPARE(mapped.jsonPayload->toObject().value("errorCode").toInt(), 3);
    }

    void everyUrlErrorCodeHasItsOwnText() {
        const int codes[] = {URLError::cancelled,
                             URLError::timedOut,
                             URLError::cannotFindHost,
                             URLError::cannotConnectToHost,
                             URLError::networkConnectionLost,
                             URLError::notConnectedToInternet,
                             URLError::secureConnectionFailed,
                             URLError::serverCertificateUntrusted,
                             URLError::dataLengthExceedsMaximum,
                             URLError::cannotDecodeContentData,
                             URLError::badServerResponse};
        QSet<QString> texts;
        for (int code : codes)
            texts.insert(URLError(code).localizedDescription());
        QCOMPARE(texts.size(), int(std::size(codes)));
    }
};

QTEST_GUILESS_MAIN(TestNetworkingError)
#include "tst_networkingerror.moc"
