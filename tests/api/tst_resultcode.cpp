#include "api/AppError.h"
#include "api/ResultCode.h"
#include "api/ResultCodeError.h"

#include <QTest>

#include <set>

class TestResultCode : public QObject {
    Q_OBJECT

private slots:
    void serverIntegersMapToTheirCase_data() {
        QTest::addColumn<qint64>("raw");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        const QString none;
        QTest::newRow("-1") << qint64(-1) << "unknown" << "An unknown error occurred";
        QTest::newRow("0") << qint64(0) << "success" << "Success";
        QTest::newRow("1") << qint64(1) << "invlidRequest" << "Invalid request. Please try again";
        QTest::newRow("3") << qint64(3) << "zidDoesNotExist"
                           << "This device has been deleted from your user profile, You can register as a new "
                              "user on this device";
        QTest::newRow("24") << qint64(24) << "orgDoesNotExist" << "Registration Failed";
        QTest::newRow("35 after 36 in declaration")
            << qint64(35) << "userInactive"
            << "Your account has been disabled, please contact admin to enable your account";
        QTest::newRow("36") << qint64(36) << "deviceAddLimitReached"
                            << "You have reached your maximum number of enrolled devices. Please remove a device "
                               "from your account to add this one.";
        QTest::newRow("42") << qint64(42) << "deskTopDoesNotSupportDid"
                            << "Manual code is not supported, please use QR code to login";
        QTest::newRow("66 has the empty message") << qint64(66) << "deviceNotTrusted" << "";
        QTest::newRow("75 is the top") << qint64(75) << "userExistInMultipleOrg" << "An unknown error occurred";
        for (qint64 raw : {qint64(-2), qint64(25), qint64(28), qint64(30), qint64(58), qint64(72), qint64(76),
                           std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()})
            QTest::addRow("%lld has no case", static_cast<long long>(raw)) << raw << none << none;
    }

    void serverIntegersMapToTheirCase() {
        QFETCH(qint64, raw);
        QFETCH(QString, name);
        QFETCH(QString, message);
        const std::optional<ResultCode> code = ResultCode::fromRawValue(raw);
        QCOMPARE(code.has_value(), !name.isNull());
        if (!code)
            return;
        QCOMPARE(code->name(), name);
        QCOMPARE(code->rawValue(), raw);
        QCOMPARE(code->message(), message);
    }

    void everyCaseIsFoundByItsOwnRawValue() {
        const auto& cases = ResultCode::allCases();
        std::set<qint64> raws;
        for (ResultCode code : cases) {
            QCOMPARE(ResultCode::fromRawValue(code.rawValue()), code);
            raws.insert(code.rawValue());
        }
        QCOMPARE(raws.size(), size_t(35));
        int mapped = 0;
        for (qint64 raw = -1; raw <= 75; ++raw)
            mapped += ResultCode::fromRawValue(raw).has_value() ? 1 : 0;
        QCOMPARE(mapped, 35);
        QCOMPARE(cases.back(), ResultCode(ResultCode::deskTopDoesNotSupportDid));
        // Flows compare a looked-up code with a case directly.
        QVERIFY(ResultCode::fromRawValue(3) == ResultCode::zidDoesNotExist);
        QVERIFY(ResultCode::fromRawValue(3) != ResultCode::suidDoesNotExist);
    }

    void resultCodeErrorsOfferLogoutOnlyForUnknownUsers_data() {
        QTest::addColumn<qint64>("code");
        QTest::addColumn<ResultCode>("type");
        QTest::addColumn<bool>("logout");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("message");
        QTest::newRow("suid gone") << qint64(2) << ResultCode(ResultCode::suidDoesNotExist) << true << "Logout"
                                   << "You are not authorized to perform this action. Please try again";
        QTest::newRow("zid gone") << qint64(3) << ResultCode(ResultCode::zidDoesNotExist) << true << "Logout"
                                  << ResultCode(ResultCode::zidDoesNotExist).message();
        QTest::newRow("request zid gone") << qint64(19) << ResultCode(ResultCode::reqZidDoesNotExist) << false
                                          << "Ok" << ResultCode(ResultCode::zidDoesNotExist).message();
        QTest::newRow("undefined code") << qint64(99) << ResultCode(ResultCode::unknown) << false << "Ok"
                                        << "An unknown error occurred";
        QTest::newRow("gap code") << qint64(25) << ResultCode(ResultCode::unknown) << false << "Ok"
                                  << "An unknown error occurred";
    }

    void resultCodeErrorsOfferLogoutOnlyForUnknownUsers() {
        QFETCH(qint64, code);
        QFETCH(ResultCode, type);
        QFETCH(bool, logout);
        QFETCH(QString, button);
        QFETCH(QString, message);
        const ResultCodeError error(code);
        QCOMPARE(error.type(), type);
        QCOMPARE(error.logoutRequired(), logout);
        QCOMPARE(error.buttonTitle(), button);
        QCOMPARE(error.message(), message);
        QCOMPARE(error.title(), QString("Request Failed"));
    }

    void webserviceErrorsAndTheirScreens_data() {
        QTest::addColumn<std::optional<QString>>("code");
        QTest::addColumn<std::optional<QString>>("message");
        QTest::addColumn<AppError::ScreenType>("screen");
        QTest::addColumn<WebserviceError::ErrorType::Kind>("kind");
        QTest::addColumn<AppError::ScreenType>("storedScreen");
        QTest::addColumn<QString>("appMessage");
        QTest::addColumn<std::optional<QString>>("button");
        using Kind = WebserviceError::ErrorType::Kind;
        using Screen = AppError::ScreenType;
        const std::optional<QString> none;
        QTest::newRow("code 1 beats the message") << std::optional<QString>("1") << std::optional<QString>("m")
                                                  << Screen::general << Kind::somethingWentWrong << Screen::general
                                                  << "An unknown error occurred" << std::optional<QString>("Ok");
        QTest::newRow("code 2 without message") << std::optional<QString>("2") << none << Screen::profile
                                                << Kind::unknown << Screen::unknown << "" << none;
        QTest::newRow("empty message is general") << none << std::optional<QString>("") << Screen::profile
                                                  << Kind::general << Screen::profile << ""
                                                  << std::optional<QString>("Ok");
        QTest::newRow("carried message") << std::optional<QString>("7") << std::optional<QString>("Try later")
                                         << Screen::general << Kind::general << Screen::general << "Try later"
                                         << std::optional<QString>("Ok");
        QTest::newRow("unknown screen hides the message")
            << none << std::optional<QString>("m") << Screen::unknown << Kind::general << Screen::unknown << ""
            << std::optional<QString>("Ok");
    }

    void webserviceErrorsAndTheirScreens() {
        QFETCH(std::optional<QString>, code);
        QFETCH(std::optional<QString>, message);
        QFETCH(AppError::ScreenType, screen);
        QFETCH(WebserviceError::ErrorType::Kind, kind);
        QFETCH(AppError::ScreenType, storedScreen);
        QFETCH(QString, appMessage);
        QFETCH(std::optional<QString>, button);
        const WebserviceError error(code, message);
        QCOMPARE(error.type().kind(), kind);
        QCOMPARE(error.somethingWentWrongCode(), QString("1"));
        const AppError appError(screen, error);
        QCOMPARE(appError.type(), storedScreen);
        QCOMPARE(appError.message(), appMessage);
        QCOMPARE(appError.buttonTitle(), button);
        QCOMPARE(appError.title(), QString("Error"));
    }

    void defaultWebserviceErrorIsUnknown() {
        QCOMPARE(WebserviceError(), WebserviceError(QString("unknown"), std::nullopt));
        QCOMPARE(WebserviceError().type().kind(), WebserviceError::ErrorType::Kind::unknown);
    }

    void screenTypesMatchTheirTextExactly() {
        for (auto type : {AppError::ScreenType::unknown, AppError::ScreenType::profile, AppError::ScreenType::general})
            QCOMPARE(AppError::screenTypeFromRawValue(AppError::rawValue(type)), type);
        QCOMPARE(AppError::screenTypeFromRawValue("Profile"), std::nullopt);
        QCOMPARE(AppError::screenTypeFromRawValue(""), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestResultCode)
#include "tst_resultcode.moc"
