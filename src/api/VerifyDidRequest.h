#pragma once

#include "JsonCoding.h"

// The signed body of the three approval calls: verify, confirmation and second code.
struct VerifyDidRequest {
    std::optional<QString> uniqueId;
    std::optional<QString> org;
    std::optional<qint64> validationCode;
    // Milliseconds since 1970-01-01 00:00 UTC.
    std::optional<qint64> timestamp;
    std::optional<QString> suid;
    std::optional<QString> zid;
    // Base64 of the device key's signature; absent when the key could not sign.
    std::optional<QString> signature;
    std::optional<QString> confirm;

    static auto codingFields() {
        using coding::field;
        return std::tuple{coding::secretField("uniqueId", &VerifyDidRequest::uniqueId),
                          field("org", &VerifyDidRequest::org),
                          coding::secretField("validationCode", &VerifyDidRequest::validationCode),
                          field("timestamp", &VerifyDidRequest::timestamp),
                          field("suid", &VerifyDidRequest::suid),
                          field("zid", &VerifyDidRequest::zid),
                          field("signature", &VerifyDidRequest::signature),
                          field("confirm", &VerifyDidRequest::confirm)};
    }
};
