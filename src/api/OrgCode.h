#pragma once

#include "JsonCoding.h"

// One organisation offered when the user exists in several.
struct OrgCode {
    std::optional<QString> orgCode;
    std::optional<QString> orgName;
    std::optional<bool> enableStepUpAuth;

    bool operator==(const OrgCode&) const = default;

    static auto codingFields() {
        using coding::field;
        return std::tuple{field("orgCode", &OrgCode::orgCode), field("orgName", &OrgCode::orgName),
                          field("enableStepUpAuth", &OrgCode::enableStepUpAuth)};
    }
};
