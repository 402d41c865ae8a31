#pragma once

#include <QString>

#include <optional>

// The focus identifier of every focusable control. The window shell, the screens and the app state
// compare them for equality only; an absent std::optional<Field> means nothing is focused.
// The five tab identifiers loginTab .. logoutTab stand together, in this order.
enum class Field {
    regOrgEmail,
    regActivationCode,
    loginTab,
    regTab,
    helpTab,
    removeUserTab,
    logoutTab,
    regSubmitButton,
    loginUsers,
    loginPassword,
    regPassword,
    regConfirmPassword,
    passSubmitButton,
    loginCode,
    loginSubmitButton,
    loginCodeTwo,
    loginCodeTwoSubmitButton,
    removeUserConfirmButton,
    removeUserCancel,
    unlockApp,
    unfocus,
    createPin,
    confirmPin,
    agreeTerms,
    termsLink,
    privacyLink,
    authenticate,
    authCode,
    removeYes,
    removeNo,
    orgSelection,
    twoFactor,
    homeBack,
    authenticateValidation,
    handleAuth,
    userDeletetionYes,
    userDeletionNo,
};

inline constexpr int fieldCount = static_cast<int>(Field::userDeletionNo) + 1;

// The identifier's own name ("loginPassword"), used as the objectName of the control that carries it.
QString fieldName(Field field);
// The identifier named by `name`, compared case-sensitively.
std::optional<Field> fieldFromName(const QString& name);
