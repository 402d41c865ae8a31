#pragma once

#include "DesktopConfig.h"
#include "VersionInfo.h"

// The reply of the start-up version request: application versions and desktop policy.
struct VersionInfoResponse {
    std::optional<qint64> errorCode;
    std::optional<qint64> timestamp;
    std::optional<qint64> resultCode;
    std::optional<VersionInfo> version;
    std::optional<DesktopConfig> desktopConfig;

    bool operator==(const VersionInfoResponse&) const = default;

    static auto codingFields() {
        using coding::field;
        return std::tuple{field("errorCode", &VersionInfoResponse::errorCode),
                          field("timestamp", &VersionInfoResponse::timestamp),
                          field("resultCode", &VersionInfoResponse::resultCode),
                          field("version", &VersionInfoResponse::version),
                          field("desktopConfig", &VersionInfoResponse::desktopConfig)};
    }
};
