#pragma once

#include "JsonCoding.h"

// The body of the enrolment validation and of the device registration. The two consent flags belong to
// the form only and never travel.
struct CreateAccountRequest {
    std::optional<QString> email;
    std::optional<QString> mobile;
    std::optional<QString> activationCode;
    std::optional<QString> signature;
    std::optional<QString> suid;
    std::optional<QString> type;
    std::optional<QString> zid;
    std::optional<QString> publicKey;
    // Milliseconds since 1970-01-01 00:00 UTC.
    std::optional<qint64> timestamp;
    std::optional<QString> orgEmail;
    std::optional<QString> deviceNickName;
    bool acceptedSmsTerms = false;
    bool acceptedTerms = false;

    bool operator==(const CreateAccountRequest&) const = default;

    static auto codingFields() {
        using coding::field;
        return std::tuple{field("email", &CreateAccountRequest::email),
                          field("mobile", &CreateAccountRequest::mobile),
                          coding::secretField("activationCode", &CreateAccountRequest::activationCode),
                          field("signature", &CreateAccountRequest::signature),
                          field("suid", &CreateAccountRequest::suid),
                          field("zid", &CreateAccountRequest::zid),
                          field("publicKey", &CreateAccountRequest::publicKey),
                          field("timestamp", &CreateAccountRequest::timestamp),
                          field("orgEmail", &CreateAccountRequest::orgEmail),
                          field("deviceNickName", &CreateAccountRequest::deviceNickName),
                          field("type", &CreateAccountRequest::type)};
    }
};
