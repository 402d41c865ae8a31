#pragma once

#include "JsonCoding.h"

// The oldest supported and the newest application version.
struct VersionInfo {
    std::optional<QString> min;
    std::optional<QString> latest;

    bool operator==(const VersionInfo&) const = default;

    static auto codingFields() {
        return std::tuple{coding::field("min", &VersionInfo::min), coding::field("latest", &VersionInfo::latest)};
    }
};
