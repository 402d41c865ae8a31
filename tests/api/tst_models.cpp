#include "api/AuthResponse.h"
#include "api/CommonResponse.h"
#include "api/ConfirmModel.h"
#include "api/CreateAccountRequest.h"
#include "api/CurrentUser.h"
#include "api/JsonString.h"
#include "api/NonExistingUsersResponse.h"
#include "api/QRData.h"
#include "api/RemoveDeviceRequest.h"
#include "api/VerifyDidRequest.h"
#include "api/VerifyDidResponse.h"
#include "api/VersionInfoResponse.h"

#include <QTest>
#include <QTimeZone>

#include <functional>
#include <map>

using coding::DecodingError;

namespace {

using RoundTrip = std::function<QJsonValue(const QByteArray&)>;

template <typename T> RoundTrip roundTripOf() {
    return [](const QByteArray& json) { return coding::encode(coding::decode<T>(json)); };
}

// Decodes JSON text as the named model and encodes the result again.
QJsonValue roundTrip(const QString& model, const QByteArray& json) {
    static const std::map<QString, RoundTrip> models{
        {"AuthResponse", roundTripOf<AuthResponse>()},
        {"CommonResponse", roundTripOf<CommonResponse>()},
        {"AlertModel", roundTripOf<AlertModel>()},
        {"ConfirmModel", roundTripOf<ConfirmModel>()},
        {"VerifyDidRequest", roundTripOf<VerifyDidRequest>()},
        {"VerifyDidResponse", roundTripOf<VerifyDidResponse>()},
        {"OrgCode", roundTripOf<OrgCode>()},
        {"QRData", roundTripOf<QRData>()},
        {"RemoveDeviceRequest", roundTripOf<RemoveDeviceRequest>()},
        {"CurrentUser", roundTripOf<CurrentUser>()},
        {"CurrentUsers", roundTripOf<std::vector<CurrentUser>>()},
        {"VersionInfoResponse", roundTripOf<VersionInfoResponse>()},
        {"VersionInfo", roundTripOf<VersionInfo>()},
        {"DesktopConfig", roundTripOf<DesktopConfig>()},
        {"NonExistingUsersResponse", roundTripOf<NonExistingUsersResponse>()},
        {"NonExistingUsers", roundTripOf<NonExistingUsers>()},
        {"UserToDelete", roundTripOf<UserToDelete>()},
        {"CreateAccountRequest", roundTripOf<CreateAccountRequest>()},
    };
    return models.at(model)(json);
}

template <typename T> bool decodesToEmptyValue() {
    const T decoded = coding::decode<T>(QByteArray("{}"));
    if constexpr (std::equality_comparable<T>) {
        if (!(decoded == T{}))
            return false;
    }
    return coding::encode(decoded) == QJsonValue(QJsonObject{}) &&
           coding::encode(T{}) == QJsonValue(QJsonObject{});
}

QJsonValue parsed(const QByteArray& json) {
    return coding::parse(json);
}

} // namespace

class TestModels : public QObject {
    Q_OBJECT

private slots:
    void emptyObjectIsTheEmptyValue() {
        QVERIFY(decodesToEmptyValue<AuthResponse>());
        QVERIFY(decodesToEmptyValue<CommonResponse>());
        QVERIFY(decodesToEmptyValue<AlertModel>());
        QVERIFY(decodesToEmptyValue<ConfirmModel>());
        QVERIFY(decodesToEmptyValue<VerifyDidRequest>());
        QVERIFY(decodesToEmptyValue<VerifyDidResponse>());
        QVERIFY(decodesToEmptyValue<OrgCode>());
        QVERIFY(decodesToEmptyValue<QRData>());
        QVERIFY(decodesToEmptyValue<RemoveDeviceRequest>());
        QVERIFY(decodesToEmptyValue<VersionInfoResponse>());
        QVERIFY(decodesToEmptyValue<VersionInfo>());
        QVERIFY(decodesToEmptyValue<DesktopConfig>());
        QVERIFY(decodesToEmptyValue<NonExistingUsersResponse>());
        QVERIFY(decodesToEmptyValue<NonExistingUsers>());
        QVERIFY(decodesToEmptyValue<UserToDelete>());
        QVERIFY(decodesToEmptyValue<CreateAccountRequest>());
    }

    // What decodes, encoded again: nulls and unknown keys vanish, empty lists and objects stay.
    void decodedRepliesEncodeBackWhatTheyHeld_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("null result code") << "AuthResponse" << QByteArray(R"({"resultCode":null,"zid":"z"})")
                                          << QByteArray(R"({"zid":"z"})");
        QTest::newRow("empty alert is present")
            << "CommonResponse" << QByteArray(R"({"alert":{}})") << QByteArray(R"({"alert":{}})");
        QTest::newRow("empty errors list")
            << "AuthResponse" << QByteArray(R"({"errors":[]})") << QByteArray(R"({"errors":[]})");
        QTest::newRow("verify reply, extra keys and nulls")
            << "VerifyDidResponse"
            << QByteArray(R"({"resultCode":null,"extra":{"a":1},"orgCodes":[],"otp":123456,"ttl":30,)"
                          R"("confirm":{"message":"ok","other":1},"enableStepUpAuth":false})")
            << QByteArray(R"({"orgCodes":[],"otp":123456,"ttl":30,"confirm":{"message":"ok"},)"
                          R"("enableStepUpAuth":false})");
        QTest::newRow("organisations")
            << "VerifyDidResponse" << QByteArray(R"({"resultCode":75,"orgCodes":[{"orgCode":"A"},{}]})")
            << QByteArray(R"({"resultCode":75,"orgCodes":[{"orgCode":"A"},{}]})");
        QTest::newRow("one policy value")
            << "VersionInfoResponse" << QByteArray(R"({"desktopConfig":{"maxLoginAttempts":"5"}})")
            << QByteArray(R"({"desktopConfig":{"maxLoginAttempts":"5"}})");
        QTest::newRow("policy null") << "VersionInfoResponse" << QByteArray(R"({"desktopConfig":null})")
                                     << QByteArray("{}");
        QTest::newRow("policy empty") << "VersionInfoResponse" << QByteArray(R"({"desktopConfig":{}})")
                                      << QByteArray(R"({"desktopConfig":{}})");
        QTest::newRow("latest only") << "VersionInfoResponse" << QByteArray(R"({"version":{"latest":"2.0"}})")
                                     << QByteArray(R"({"version":{"latest":"2.0"}})");
        QTest::newRow("policy text is kept as text")
            << "DesktopConfig" << QByteArray(R"({"desktopIdleSession":"abc"})")
            << QByteArray(R"({"desktopIdleSession":"abc"})");
        QTest::newRow("users to delete, extras everywhere")
            << "NonExistingUsersResponse"
            << QByteArray(R"({"x":1,"nonExistingUsers":{"y":2,"userToDelete":[{"orgCode":"o","z":3}]}})")
            << QByteArray(R"({"nonExistingUsers":{"userToDelete":[{"orgCode":"o"}]}})");
        QTest::newRow("empty user list") << "NonExistingUsers" << QByteArray(R"({"userToDelete":[]})")
                                         << QByteArray(R"({"userToDelete":[]})");
        QTest::newRow("consent flags never travel")
            << "CreateAccountRequest"
            << QByteArray(R"({"acceptedTerms":true,"acceptedSmsTerms":true,"type":"d"})")
            << QByteArray(R"({"type":"d"})");
        QTest::newRow("two current users")
            << "CurrentUsers"
            << QByteArray(R"([{"primaryAttr":"p","orgCode":"","suid":"s","zid":"z"},)"
                          R"({"primaryAttr":"","orgCode":"o","suid":"","zid":""}])")
            << QByteArray(R"([{"primaryAttr":"p","orgCode":"","suid":"s","zid":"z"},)"
                          R"({"primaryAttr":"","orgCode":"o","suid":"","zid":""}])");
    }

    void decodedRepliesEncodeBackWhatTheyHeld() {
        QFETCH(QString, model);
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, expected);
        QCOMPARE(roundTrip(model, json), parsed(expected));
    }

    // A value of the wrong JSON type anywhere fails the whole reply, naming the kind and where.
    void wrongTypesFailTheWholeValue_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<DecodingError::Kind>("kind");
        QTest::addColumn<QString>("path");
        using K = DecodingError::Kind;
        QTest::newRow("result code as text")
            << "CommonResponse" << QByteArray(R"({"resultCode":"0"})") << K::typeMismatch << "resultCode";
        QTest::newRow("registration otp as number")
            << "AuthResponse" << QByteArray(R"({"otp":123456})") << K::typeMismatch << "otp";
        QTest::newRow("verify result code as text")
            << "VerifyDidResponse" << QByteArray(R"({"resultCode":"75"})") << K::typeMismatch << "resultCode";
        QTest::newRow("verify otp as text")
            << "VerifyDidResponse" << QByteArray(R"({"otp":"123456"})") << K::typeMismatch << "otp";
        QTest::newRow("flag as text") << "VerifyDidResponse" << QByteArray(R"({"enableStepUpAuth":"true"})")
                                      << K::typeMismatch << "enableStepUpAuth";
        QTest::newRow("flag as number")
            << "OrgCode" << QByteArray(R"({"enableStepUpAuth":1})") << K::typeMismatch << "enableStepUpAuth";
        QTest::newRow("organisations as object")
            << "VerifyDidResponse" << QByteArray(R"({"orgCodes":{}})") << K::typeMismatch << "orgCodes";
        QTest::newRow("one bad organisation")
            << "VerifyDidResponse" << QByteArray(R"({"orgCodes":[{"orgCode":"A"},{"orgName":7}]})")
            << K::typeMismatch << "orgCodes.Index 1.orgName";
        QTest::newRow("null organisation") << "VerifyDidResponse" << QByteArray(R"({"orgCodes":[null]})")
                                           << K::valueNotFound << "orgCodes.Index 0";
        QTest::newRow("confirm as text")
            << "VerifyDidResponse" << QByteArray(R"({"confirm":"Yes"})") << K::typeMismatch << "confirm";
        QTest::newRow("policy value as number")
            << "VersionInfoResponse"
            << QByteArray(R"({"version":{"latest":"9"},"desktopConfig":{"maxLoginAttempts":5}})")
            << K::typeMismatch << "desktopConfig.maxLoginAttempts";
        QTest::newRow("version as number") << "VersionInfoResponse" << QByteArray(R"({"version":{"min":1}})")
                                           << K::typeMismatch << "version.min";
        QTest::newRow("user zid as number")
            << "NonExistingUsersResponse"
            << QByteArray(R"({"nonExistingUsers":{"userToDelete":[{"zid":5}]}})") << K::typeMismatch
            << "nonExistingUsers.userToDelete.Index 0.zid";
        QTest::newRow("user list as object")
            << "NonExistingUsersResponse" << QByteArray(R"({"nonExistingUsers":{"userToDelete":{}}})")
            << K::typeMismatch << "nonExistingUsers.userToDelete";
        QTest::newRow("fractional code") << "NonExistingUsersResponse" << QByteArray(R"({"timestamp":1.5})")
                                         << K::dataCorrupted << "timestamp";
        QTest::newRow("current user without zid")
            << "CurrentUser" << QByteArray(R"({"primaryAttr":"p","orgCode":"o","suid":"s"})")
            << K::keyNotFound << "";
        QTest::newRow("current user null org")
            << "CurrentUser" << QByteArray(R"({"primaryAttr":"p","orgCode":null,"suid":"s","zid":"z"})")
            << K::valueNotFound << "orgCode";
        QTest::newRow("current user number")
            << "CurrentUsers" << QByteArray(R"([{"primaryAttr":"p","orgCode":"o","suid":1,"zid":"z"}])")
            << K::typeMismatch << "Index 0.suid";
        QTest::newRow("remove request time as text")
            << "RemoveDeviceRequest" << QByteArray(R"({"timestamp":"1"})") << K::typeMismatch << "timestamp";
        QTest::newRow("enrolment time as text")
            << "CreateAccountRequest" << QByteArray(R"({"timestamp":"1"})") << K::typeMismatch << "timestamp";
        QTest::newRow("qr code as array")
            << "QRData" << QByteArray(R"([{"qid":"q"}])") << K::typeMismatch << "";
    }

    void wrongTypesFailTheWholeValue() {
        QFETCH(QString, model);
        QFETCH(QByteArray, json);
        QFETCH(DecodingError::Kind, kind);
        QFETCH(QString, path);
        try {
            roundTrip(model, json);
            QFAIL("decoding succeeded");
        } catch (const DecodingError& e) {
            QCOMPARE(e.kind(), kind);
            QCOMPARE(e.pathString(), path);
        }
    }

    void absentDiffersFromEmptyInEquality() {
        AuthResponse locked;
        locked.zid = "z";
        AuthResponse lockedLater = locked;
        locked.lockedTimeStamp = QDateTime(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc());
        lockedLater.lockedTimeStamp = locked.lockedTimeStamp->addMSecs(1);
        QVERIFY(locked != lockedLater);

        AuthResponse withAlert;
        withAlert.alert = AlertModel{};
        QVERIFY(withAlert != AuthResponse{});

        OrgCode stepUp{"A", "B", std::nullopt};
        QVERIFY(stepUp != (OrgCode{"A", "B", false}));

        RemoveDeviceRequest request{"s", "z", std::nullopt, "remove", "z", std::nullopt};
        RemoveDeviceRequest stamped = request;
        stamped.timestamp = 0;
        QVERIFY(request != stamped);

        CreateAccountRequest consented;
        consented.acceptedTerms = true;
        QVERIFY(consented != CreateAccountRequest{});
        QCOMPARE(coding::encode(consented), coding::encode(CreateAccountRequest{}));
        QCOMPARE(coding::decode<CreateAccountRequest>(coding::encode(consented)), CreateAccountRequest{});
    }

    void requestsWriteExactlyTheirPresentKeys_data() {
        QTest::addColumn<QJsonValue>("encoded");
        QTest::addColumn<QStringList>("keys");
        VerifyDidRequest verify{"",  std::nullopt, std::nullopt, Q_INT64_C(1700000000123),
                                "s", "z",          "c2ln",       std::nullopt};
        QTest::newRow("verify call, pasted text without colon")
            << coding::encode(verify) << QStringList{"signature", "suid", "timestamp", "uniqueId", "zid"};
        VerifyDidRequest second = verify;
        second.validationCode = 12345;
        second.org = "ORG";
        second.signature.reset();
        QTest::newRow("second code, unsigned")
            << coding::encode(second)
            << QStringList{"org", "suid", "timestamp", "uniqueId", "validationCode", "zid"};
        RemoveDeviceRequest remove{"s", "z", "c2ln", "remove", "z", 1};
        QTest::newRow("signed removal")
            << coding::encode(remove)
            << QStringList{"action", "requestZid", "signature", "suid", "timestamp", "zid"};
        CreateAccountRequest validation;
        validation.activationCode = "CODE";
        validation.type = "desktop";
        validation.orgEmail = "a@b.c";
        validation.timestamp = 1;
        QTest::newRow("enrolment validation")
            << coding::encode(validation) << QStringList{"activationCode", "orgEmail", "timestamp", "type"};
        QTest::newRow("current user with empty texts")
            << coding::encode(CurrentUser{}) << QStringList{"orgCode", "primaryAttr", "suid", "zid"};
    }

    void requestsWriteExactlyTheirPresentKeys() {
        QFETCH(QJsonValue, encoded);
        QFETCH(QStringList, keys);
        QCOMPARE(encoded.toObject().keys(), keys);
        for (const QString& key : keys)
            QVERIFY(!encoded.toObject().value(key).isNull());
    }

    void millisecondTimestampsStayExact() {
        VerifyDidRequest request;
        request.timestamp = Q_INT64_C(1733740000123);
        const QJsonValue encoded = coding::encode(request);
        QCOMPARE(encoded.toObject().value("timestamp").toInteger(), Q_INT64_C(1733740000123));
        QCOMPARE(coding::encode(coding::decode<VerifyDidRequest>(encoded)), encoded);
    }

    void jsonStringIsIndentedAndHidesSecrets() {
        AuthResponse user;
        user.email = "a@b.c";
        user.pin = QString(64, 'A');
        user.resultCode = 3;
        const std::optional<QString> text = jsonString(user);
        QVERIFY(text.has_value());
        QVERIFY(text->count('\n') >= 4);
        QVERIFY(text->contains("    \"email\": \"a@b.c\""));
        QVERIFY(text->contains("\"resultCode\": 3"));
        QVERIFY(!text->contains(*user.pin));
        QVERIFY(text->contains("\"pin\": \"<redacted>\""));
        // The full encoding keeps the digest for the user store.
        QCOMPARE(coding::encode(user).toObject().value("pin").toString(), *user.pin);

        CreateAccountRequest request;
        request.activationCode = "ACT-123456";
        QVERIFY(!jsonString(request)->contains("ACT-123456"));

        // One-time codes, as text in the registration reply and as a number in the verification reply.
        user.otp = "778899";
        QVERIFY(!jsonString(user)->contains("778899"));
        VerifyDidResponse verified;
        verified.otp = 778899;
        QVERIFY(!jsonString(verified)->contains("778899"));
        QCOMPARE(coding::encode(verified).toObject().value("otp").toInteger(), 778899);

        // The sign-in code and its second code approve a sign-in; the body sent keeps them.
        VerifyDidRequest approval;
        approval.uniqueId = "K7MQ3T";
        approval.validationCode = 4217;
        approval.suid = "s-1";
        QVERIFY(!jsonString(approval)->contains("K7MQ3T"));
        QVERIFY(!jsonString(approval)->contains("4217"));
        QVERIFY(jsonString(approval)->contains("s-1"));
        QCOMPARE(coding::encode(approval).toObject().value("uniqueId").toString(), "K7MQ3T");
        QCOMPARE(coding::encode(approval).toObject().value("validationCode").toInteger(), 4217);
        QCOMPARE(jsonString(CommonResponse{}), QString("{\n}\n"));
    }

    void valuesWithoutJsonFormAreNotInvented() {
        AuthResponse user;
        user.lockedTimeStamp = QDateTime();
        try {
            coding::encode(user);
            QFAIL("an invalid date was encoded");
        } catch (const coding::EncodingError& e) {
            QCOMPARE(e.codingPath().size(), size_t(1));
            QCOMPARE(e.codingPath().front().stringValue, QString("lockedTimeStamp"));
        }
        QCOMPARE(jsonString(user), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestModels)
#include "tst_models.moc"
