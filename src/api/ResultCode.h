#pragma once

#include <QHashFunctions>
#include <QString>
#include <QtGlobal>

#include <array>
#include <cstddef>
#include <functional>
#include <optional>

// The outcome the identity service reports in a reply's `resultCode`, with the message the user sees.
// A value type over the enumeration, so that `ResultCode::success` reads like the case and still offers
// rawValue() and message().
class ResultCode {
public:
    enum Case : qint64 {
        unknown = -1,
        success = 0,
        invlidRequest = 1,
        suidDoesNotExist = 2,
        zidDoesNotExist = 3,
        signatureNotMatching = 4,
        aidDoesNotExist = 5,
        unsupportedAction = 6,
        failed = 7,
        orgEmailNotFound = 8,
        activationCodeNotFound = 9,
        activationCodeExpired = 10,
        accountLocked = 11,
        invalidOtp = 12,
        otpDoesNotExist = 13,
        otpDidNotMatch = 14,
        otpExpired = 15,
        phoneNumberAlreadyExists = 16,
        orgAlreadyEnabled = 17,
        orgCodeNotFound = 18,
        reqZidDoesNotExist = 19,
        userNotRegisteredForOrg = 20,
        idDoesNotExist = 21,
        invalidValidationCode = 22,
        invalidDomain = 23,
        orgDoesNotExist = 24,
        mobileUnverified = 29,
        deviceAddLimitReached = 36,
        deviceInactive = 59,
        userInactive = 35,
        deviceNotTrusted = 66,
        activationCodeResend = 70,
        userExistInMultipleOrg = 75,
        deskTopAppNotEnabled = 57,
        deskTopDoesNotSupportDid = 42,
    };

    static constexpr std::size_t caseCount = 35;

    constexpr ResultCode(Case value)
        : m_value(value) {}

    // The case of a server integer, or none for an integer the service does not define.
    static std::optional<ResultCode> fromRawValue(qint64 rawValue);
    // Every case, in declaration order.
    static const std::array<ResultCode, caseCount>& allCases();

    constexpr Case value() const { return m_value; }
    constexpr qint64 rawValue() const { return m_value; }
    QString message() const;
    // The case name as declared, for diagnostics.
    QString name() const;

    friend constexpr bool operator==(ResultCode, ResultCode) = default;

private:
    Case m_value;
};

inline size_t qHash(ResultCode code, size_t seed = 0) noexcept {
    return qHash(code.rawValue(), seed);
}

template <>
struct std::hash<ResultCode> {
    size_t operator()(ResultCode code) const noexcept { return std::hash<qint64>()(code.rawValue()); }
};
