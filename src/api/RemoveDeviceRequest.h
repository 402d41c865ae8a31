#pragma once

#include "JsonCoding.h"

// The signed body of the call that removes a user's entry for this device.
struct RemoveDeviceRequest {
    std::optional<QString> suid;
    std::optional<QString> zid;
    // Base64 of the device key's signature; absent when the key could not sign.
    std::optional<QString> signature;
    std::optional<QString> action;
    std::optional<QString> requestZid;
    // Milliseconds since 1970-01-01 00:00 UTC.
    std::optional<qint64> timestamp;

    bool operator==(const RemoveDeviceRequest&) const = default;

    static auto codingFields() {
        using coding::field;
        return std::tuple{field("suid", &RemoveDeviceRequest::suid),
                          field("zid", &RemoveDeviceRequest::zid),
                          field("signature", &RemoveDeviceRequest::signature),
                          field("action", &RemoveDeviceRequest::action),
                          field("requestZid", &RemoveDeviceRequest::requestZid),
                          field("timestamp", &RemoveDeviceRequest::timestamp)};
    }
};
