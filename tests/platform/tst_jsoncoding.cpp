#include "JsonCoding.h"
#include "api/AuthResponse.h"

#include <QTest>
#include <QTimeZone>

using coding::DecodingError;

class TestJsonCoding : public QObject {
    Q_OBJECT

private slots:
    void failingValuesFailTheWholeRecord_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("path");
        using K = DecodingError::Kind;
        QTest::newRow("string for integer") << QByteArray(R"({"resultCode":"0"})") << int(K::typeMismatch)
                                            << "resultCode";
        QTest::newRow("number for string") << QByteArray(R"({"zid":"z","otp":123456})") << int(K::typeMismatch)
                                           << "otp";
        QTest::newRow("fraction for integer") << QByteArray(R"({"errorCode":1.5})") << int(K::dataCorrupted)
                                              << "errorCode";
        QTest::newRow("integer beyond 64 bits") << QByteArray(R"({"errorCode":18446744073709551616})")
                                                << int(K::dataCorrupted) << "errorCode";
        QTest::newRow("mixed list") << QByteArray(R"({"errors":["a",1]})") << int(K::typeMismatch)
                                    << "errors.Index 1";
        QTest::newRow("date as text") << QByteArray(R"({"lockedTimeStamp":"2001-01-01"})") << int(K::typeMismatch)
                                      << "lockedTimeStamp";
        QTest::newRow("nested wrong type") << QByteArray(R"({"alert":{"message":7}})") << int(K::typeMismatch)
                                           << "alert.message";
        QTest::newRow("array at root") << QByteArray("[]") << int(K::typeMismatch) << "";
        QTest::newRow("not json") << QByteArray("{\"a\":") << int(K::dataCorrupted) << "";
        QTest::newRow("empty body") << QByteArray() << int(K::dataCorrupted) << "";
    }

    void failingValuesFailTheWholeRecord() {
        QFETCH(QByteArray, json);
        QFETCH(int, kind);
        QFETCH(QString, path);
        try {
            coding::decode<AuthResponse>(json);
            QFAIL("decoding succeeded");
        } catch (const DecodingError& e) {
            QCOMPARE(int(e.kind()), kind);
            QCOMPARE(e.pathString(), path);
        }
    }

    void absentIsDistinctFromEmpty() {
        const auto empty = coding::decode<AuthResponse>(QByteArray("{}"));
        QCOMPARE(empty, AuthResponse{});
        QCOMPARE(coding::encode(empty).toObject(), QJsonObject{});

        const auto nulls = coding::decode<AuthResponse>(QByteArray(R"({"resultCode":null,"alert":null})"));
        QVERIFY(!nulls.resultCode.has_value());
        QVERIFY(!nulls.alert.has_value());

        const auto present =
            coding::decode<AuthResponse>(QByteArray(R"({"errors":[],"zid":"","errorCode":0,"alert":{}})"));
        QVERIFY(present.errors.has_value() && present.errors->empty());
        QCOMPARE(present.zid, QString());
        QCOMPARE(present.errorCode, 0);
        QVERIFY(present.alert.has_value());
        QVERIFY(present != empty);
        const QJsonObject encoded = coding::encode(present).toObject();
        QCOMPARE(encoded.keys(), (QStringList{"alert", "errorCode", "errors", "zid"}));
        QCOMPARE(encoded.value("alert").toObject(), QJsonObject{});
    }

    void integersAreExact() {
        const auto r = coding::decode<AuthResponse>(
            QByteArray(R"({"timestamp":9007199254740993,"otpExp":-9223372036854775808,"errorCode":2.0})"));
        QCOMPARE(*r.timestamp, Q_INT64_C(9007199254740993));
        QCOMPARE(*r.otpExp, std::numeric_limits<qint64>::min());
        QCOMPARE(*r.errorCode, 2);
        const QJsonObject back = coding::encode(r).toObject();
        QCOMPARE(back.value("timestamp").toInteger(), Q_INT64_C(9007199254740993));
    }

    void datesCountFromTheReferenceDate_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QDateTime>("expected");
        const QTimeZone utc = QTimeZone::utc();
        QTest::newRow("zero") << QByteArray(R"({"lockedTimeStamp":0})")
                              << QDateTime(QDate(2001, 1, 1), QTime(0, 0), utc);
        QTest::newRow("fraction") << QByteArray(R"({"lockedTimeStamp":86400.5})")
                                  << QDateTime(QDate(2001, 1, 2), QTime(0, 0, 0, 500), utc);
        QTest::newRow("before") << QByteArray(R"({"lockedTimeStamp":-60})")
                                << QDateTime(QDate(2000, 12, 31), QTime(23, 59), utc);
    }

    void datesCountFromTheReferenceDate() {
        QFETCH(QByteArray, json);
        QFETCH(QDateTime, expected);
        const auto r = coding::decode<AuthResponse>(json);
        QCOMPARE(*r.lockedTimeStamp, expected);
        QCOMPARE(coding::decode<AuthResponse>(QJsonDocument(coding::encode(r).toObject()).toJson()), r);
    }

    void errorTextsNameTheKindOfFailure_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("detailed");
        const QString format = "The data couldn\u2019t be read because it isn\u2019t in the correct format.";
        QTest::newRow("type mismatch")
            << QByteArray(R"({"resultCode":"0"})")
            << "typeMismatch error: Expected to decode Int but found a string instead.  " + format;
        QTest::newRow("value not found")
            << QByteArray(R"({"errors":[null]})")
            << "valueNotFound error: Expected String value but found null instead.  "
               "The data couldn\u2019t be read because it is missing.";
        QTest::newRow("data corrupted carries the whole context")
            << QByteArray(R"({"errorCode":1.5})")
            << "dataCorrupted error at: Context(codingPath: [CodingKeys(stringValue: \"errorCode\", intValue: nil)], "
               "debugDescription: \"Parsed JSON number <1.5> does not fit in Int.\", underlyingError: nil)  " +
                   format;
        QTest::newRow("date out of range keeps its path")
            << QByteArray(R"({"lockedTimeStamp":-1e15})")
            << "dataCorrupted error at: Context(codingPath: [CodingKeys(stringValue: \"lockedTimeStamp\", "
               "intValue: nil)], debugDescription: \"Date out of range.\", underlyingError: nil)  " +
                   format;
    }

    void errorTextsNameTheKindOfFailure() {
        QFETCH(QByteArray, json);
        QFETCH(QString, detailed);
        try {
            coding::decode<AuthResponse>(json);
            QFAIL("decoding succeeded");
        } catch (const DecodingError& e) {
            QCOMPARE(e.detailedDescription(), detailed);
            QCOMPARE(QString::fromStdString(e.what()), detailed);
        }
    }

    void missingKeyIsMissingData() {
        const DecodingError error(DecodingError::Kind::keyNotFound, {},
                                  QStringLiteral("No value associated with key \"zid\"."));
        QCOMPARE(error.detailedDescription(),
                 QString("keyNotFound error: No value associated with key \"zid\".  "
                         "The data couldn\u2019t be read because it is missing."));
    }

    void unknownKeysAreIgnored() {
        const auto r = coding::decode<AuthResponse>(QByteArray(R"({"zid":"z1","extra":{"deep":[1,2]},"Zid":5})"));
        AuthResponse expected;
        expected.zid = "z1";
        QCOMPARE(r, expected);
    }

    void hostileInputIsRefusedWithoutCrashing() {
        // Deep nesting must end in an error, not in a stack overflow.
        const QByteArray deep = QByteArray(100000, '[') + QByteArray(100000, ']');
        QVERIFY_THROWS_EXCEPTION(DecodingError, coding::decode<AuthResponse>(deep));
        QByteArray nestedAlert = R"({"alert":)" + QByteArray(5000, '[') + QByteArray(5000, ']') + "}";
        QVERIFY_THROWS_EXCEPTION(DecodingError, coding::decode<AuthResponse>(nestedAlert));
        QVERIFY_THROWS_EXCEPTION(DecodingError, coding::decode<AuthResponse>(QByteArray(R"({"errorCode":1e400})")));
        QVERIFY_THROWS_EXCEPTION(DecodingError,
                                 coding::decode<AuthResponse>(QByteArray(R"({"lockedTimeStamp":1e300})")));
    }
};

QTEST_GUILESS_MAIN(TestJsonCoding)
#include "tst_jsoncoding.moc"
