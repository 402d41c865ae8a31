#include "ResultCode.h"

#include <utility>

namespace {

struct Entry {
    ResultCode::Case value;
    const char* name;
    const char* message;
};

constexpr const char* unknownError = "An unknown error occurred";
constexpr const char* registrationFailed = "Registration Failed";
constexpr const char* deviceDeleted =
    "This device has been deleted from your user profile, You can register as a new user on this device";

// Declaration order; it is not the order of the raw values.
constexpr std::array<Entry, ResultCode::caseCount> entries{{
    {ResultCode::unknown, "unknown", unknownError},
    {ResultCode::success, "success", "Success"},
    {ResultCode::invlidRequest, "invlidRequest", "Invalid request. Please try again"},
    {ResultCode::suidDoesNotExist, "suidDoesNotExist",
     "You are not authorized to perform this action. Please try again"},
    {ResultCode::zidDoesNotExist, "zidDoesNotExist", deviceDeleted},
    {ResultCode::signatureNotMatching, "signatureNotMatching", unknownError},
    {ResultCode::aidDoesNotExist, "aidDoesNotExist", unknownError},
    {ResultCode::unsupportedAction, "unsupportedAction", unknownError},
    {ResultCode::failed, "failed", unknownError},
    {ResultCode::orgEmailNotFound, "orgEmailNotFound", registrationFailed},
    {ResultCode::activationCodeNotFound, "activationCodeNotFound", registrationFailed},
    {ResultCode::activationCodeExpired, "activationCodeExpired", registrationFailed},
    {ResultCode::accountLocked, "accountLocked", "Activation disabled, please contact your helpdesk"},
    {ResultCode::invalidOtp, "invalidOtp", unknownError},
    {ResultCode::otpDoesNotExist, "otpDoesNotExist", unknownError},
    {ResultCode::otpDidNotMatch, "otpDidNotMatch", unknownError},
    {ResultCode::otpExpired, "otpExpired", unknownError},
    {ResultCode::phoneNumberAlreadyExists, "phoneNumberAlreadyExists", unknownError},
    {ResultCode::orgAlreadyEnabled, "orgAlreadyEnabled", unknownError},
    {ResultCode::orgCodeNotFound, "orgCodeNotFound", registrationFailed},
    {ResultCode::reqZidDoesNotExist, "reqZidDoesNotExist", deviceDeleted},
    {ResultCode::userNotRegisteredForOrg, "userNotRegisteredForOrg", "You do not have access to this organization"},
    {ResultCode::idDoesNotExist, "idDoesNotExist", "Invalid Code"},
    {ResultCode::invalidValidationCode, "invalidValidationCode",
     "Validation code verification failed. Please try again"},
    {ResultCode::invalidDomain, "invalidDomain", registrationFailed},
    {ResultCode::orgDoesNotExist, "orgDoesNotExist", registrationFailed},
    {ResultCode::mobileUnverified, "mobileUnverified", "Unable to process login without a verified mobile number"},
    {ResultCode::deviceAddLimitReached, "deviceAddLimitReached",
     "You have reached your maximum number of enrolled devices. Please remove a device from your account to add "
     "this one."},
    {ResultCode::deviceInactive, "deviceInactive", "This device has been disabled from your user profile"},
    {ResultCode::userInactive, "userInactive",
     "Your account has been disabled, please contact admin to enable your account"},
    {ResultCode::deviceNotTrusted, "deviceNotTrusted", ""},
    {ResultCode::activationCodeResend, "activationCodeResend",
     "This activation code has expired. A new code was sent to your email address now. Please retry registration "
     "with that code."},
    {ResultCode::userExistInMultipleOrg, "userExistInMultipleOrg", unknownError},
    {ResultCode::deskTopAppNotEnabled, "deskTopAppNotEnabled", "Desktop app not enabled"},
    {ResultCode::deskTopDoesNotSupportDid, "deskTopDoesNotSupportDid",
     "Manual code is not supported, please use QR code to login"},
}};

constexpr qint64 lowestRawValue = -1;
constexpr qint64 highestRawValue = 75;
constexpr std::size_t lookupSize = highestRawValue - lowestRawValue + 1;

// Raw value + 1 to the entry's index; -1 where the service defines no case.
constexpr std::array<int, lookupSize> lookup = [] {
    std::array<int, lookupSize> table{};
    table.fill(-1);
    for (std::size_t i = 0; i < entries.size(); ++i)
        table[static_cast<std::size_t>(entries[i].value - lowestRawValue)] = static_cast<int>(i);
    return table;
}();

const Entry& entryOf(ResultCode::Case value) {
    return entries[static_cast<std::size_t>(lookup[static_cast<std::size_t>(value - lowestRawValue)])];
}

} // namespace

std::optional<ResultCode> ResultCode::fromRawValue(qint64 rawValue) {
    if (rawValue < lowestRawValue || rawValue > highestRawValue)
        return std::nullopt;
    const int index = lookup[static_cast<std::size_t>(rawValue - lowestRawValue)];
    if (index < 0)
        return std::nullopt;
    return ResultCode(entries[static_cast<std::size_t>(index)].value);
}

const std::array<ResultCode, ResultCode::caseCount>& ResultCode::allCases() {
    static constexpr auto cases = []<std::size_t... I>(std::index_sequence<I...>) {
        return std::array<ResultCode, caseCount>{ResultCode(entries[I].value)...};
    }(std::make_index_sequence<caseCount>());
    return cases;
}

QString ResultCode::message() const {
    return QString::fromUtf8(entryOf(m_value).message);
}

QString ResultCode::name() const {
    return QString::fromLatin1(entryOf(m_value).name);
}
