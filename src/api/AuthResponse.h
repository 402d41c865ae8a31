#pragma once

#include "AlertModel.h"

// The registration reply and, at the same time, the record of one enrolled user.
// The empty value (every field absent) stands for no user at all.
struct AuthResponse {
    std::optional<qint64> errorCode;
    std::optional<std::vector<QString>> errors;
    std::optional<qint64> resultCode;
    std::optional<QString> zid;
    std::optional<QString> suid;
    std::optional<QString> orgCode;
    std::optional<QString> orgName;
    std::optional<QString> email;
    std::optional<QString> errorTitle;
    std::optional<QString> errorMessage;
    std::optional<QString> otp;
    std::optional<QString> pin;
    std::optional<QString> primaryAttr;
    std::optional<QString> displayEmail;
    std::optional<qint64> timestamp;
    std::optional<qint64> otpExp;
    std::optional<qint64> invalidAttemptCount;
    std::optional<QDateTime> lockedTimeStamp;
    std::optional<AlertModel> alert;
    // The device key the stored record names: the tag it lies under for good and its identity. This
    // device's own bookkeeping, so no part of the wire form.
    std::optional<QString> keyTag;
    std::optional<QString> keyIdentity;

    bool operator==(const AuthResponse&) const = default;

    static auto codingFields() {
        using coding::field;
        return std::tuple{field("errorCode", &AuthResponse::errorCode),
                          field("errors", &AuthResponse::errors),
                          field("resultCode", &AuthResponse::resultCode),
                          field("zid", &AuthResponse::zid),
                          field("suid", &AuthResponse::suid),
                          field("orgCode", &AuthResponse::orgCode),
                          field("orgName", &AuthResponse::orgName),
                          field("email", &AuthResponse::email),
                          field("errorTitle", &AuthResponse::errorTitle),
                          field("errorMessage", &AuthResponse::errorMessage),
                          coding::secretField("otp", &AuthResponse::otp),
                          coding::secretField("pin", &AuthResponse::pin),
                          field("primaryAttr", &AuthResponse::primaryAttr),
                          field("displayEmail", &AuthResponse::displayEmail),
                          field("timestamp", &AuthResponse::timestamp),
                          field("otpExp", &AuthResponse::otpExp),
                          field("invalidAttemptCount", &AuthResponse::invalidAttemptCount),
                          field("lockedTimeStamp", &AuthResponse::lockedTimeStamp),
                          field("alert", &AuthResponse::alert)};
    }
};
