#pragma once

#include "AlertModel.h"
#include "ConfirmModel.h"
#include "OrgCode.h"

// The reply of the three approval calls.
struct VerifyDidResponse {
    std::optional<qint64> errorCode;
    std::optional<std::vector<QString>> errors;
    std::optional<qint64> resultCode;
    std::optional<QString> zid;
    std::optional<QString> suid;
    std::optional<QString> org;
    std::optional<QString> orgName;
    std::optional<QString> email;
    std::optional<QString> mobile;
    std::optional<QString> action;
    std::optional<QString> message;
    std::optional<QString> errorTitle;
    std::optional<QString> errorMessage;
    std::optional<qint64> timestamp;
    // A number here, unlike the text `otp` of the registration reply.
    std::optional<qint64> otp;
    std::optional<qint64> otpExp;
    // Lifetime of the second code in seconds.
    std::optional<qint64> ttl;
    std::optional<AlertModel> alert;
    std::optional<ConfirmModel> confirm;
    std::optional<std::vector<OrgCode>> orgCodes;
    std::optional<bool> enableStepUpAuth;
    std::optional<QString> source;

    static auto codingFields() {
        using coding::field;
        return std::tuple{field("errorCode", &VerifyDidResponse::errorCode),
                          field("errors", &VerifyDidResponse::errors),
                          field("resultCode", &VerifyDidResponse::resultCode),
                          field("zid", &VerifyDidResponse::zid),
                          field("suid", &VerifyDidResponse::suid),
                          field("org", &VerifyDidResponse::org),
                          field("orgName", &VerifyDidResponse::orgName),
                          field("email", &VerifyDidResponse::email),
                          field("mobile", &VerifyDidResponse::mobile),
                          field("action", &VerifyDidResponse::action),
                          field("message", &VerifyDidResponse::message),
                          field("errorTitle", &VerifyDidResponse::errorTitle),
                          field("errorMessage", &VerifyDidResponse::errorMessage),
                          field("timestamp", &VerifyDidResponse::timestamp),
                          coding::secretField("otp", &VerifyDidResponse::otp),
                          field("otpExp", &VerifyDidResponse::otpExp),
                          field("ttl", &VerifyDidResponse::ttl),
                          field("alert", &VerifyDidResponse::alert),
                          field("confirm", &VerifyDidResponse::confirm),
                          field("orgCodes", &VerifyDidResponse::orgCodes),
                          field("enableStepUpAuth", &VerifyDidResponse::enableStepUpAuth),
                          field("source", &VerifyDidResponse::source)};
    }
};
