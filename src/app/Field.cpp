#include "Field.h"

#include <array>

namespace {

constexpr std::array<const char*, fieldCount> names{
    "regOrgEmail",
    "regActivationCode",
    "loginTab",
    "regTab",
    "helpTab",
    "removeUserTab",
    "logoutTab",
    "regSubmitButton",
    "loginUsers",
    "loginPassword",
    "regPassword",
    "regConfirmPassword",
    "passSubmitButton",
    "loginCode",
    "loginSubmitButton",
    "loginCodeTwo",
    "loginCodeTwoSubmitButton",
    "removeUserConfirmButton",
    "removeUserCancel",
    "unlockApp",
    "unfocus",
    "createPin",
    "confirmPin",
    "agreeTerms",
    "termsLink",
    "privacyLink",
    "authenticate",
    "authCode",
    "removeYes",
    "removeNo",
    "orgSelection",
    "twoFactor",
    "homeBack",
    "authenticateValidation",
    "handleAuth",
    "userDeletetionYes",
    "userDeletionNo",
};

} // namespace

QString fieldName(Field field) {
    return QString::fromLatin1(names.at(static_cast<size_t>(field)));
}

std::optional<Field> fieldFromName(const QString& name) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (name == QLatin1String(names[i]))
            return static_cast<Field>(i);
    }
    return std::nullopt;
}
