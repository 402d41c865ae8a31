#pragma once

#include "JsonCoding.h"

// One stored user that the service no longer knows; only a present `zid` leads to a removal.
struct UserToDelete {
    std::optional<QString> primaryAttr;
    std::optional<QString> orgCode;
    std::optional<QString> suid;
    std::optional<QString> zid;

    bool operator==(const UserToDelete&) const = default;

    static auto codingFields() {
        using coding::field;
        return std::tuple{field("primaryAttr", &UserToDelete::primaryAttr), field("orgCode", &UserToDelete::orgCode),
                          field("suid", &UserToDelete::suid), field("zid", &UserToDelete::zid)};
    }
};

struct NonExistingUsers {
    std::optional<qint64> resultCode;
    std::optional<std::vector<UserToDelete>> userToDelete;

    bool operator==(const NonExistingUsers&) const = default;

    static auto codingFields() {
        return std::tuple{coding::field("resultCode", &NonExistingUsers::resultCode),
                          coding::field("userToDelete", &NonExistingUsers::userToDelete)};
    }
};

// The reply of the check for stored users that no longer exist.
struct NonExistingUsersResponse {
    std::optional<qint64> errorCode;
    std::optional<qint64> timestamp;
    std::optional<qint64> resultCode;
    std::optional<NonExistingUsers> nonExistingUsers;

    bool operator==(const NonExistingUsersResponse&) const = default;

    static auto codingFields() {
        using coding::field;
        return std::tuple{field("errorCode", &NonExistingUsersResponse::errorCode),
                          field("timestamp", &NonExistingUsersResponse::timestamp),
                          field("resultCode", &NonExistingUsersResponse::resultCode),
                          field("nonExistingUsers", &NonExistingUsersResponse::nonExistingUsers)};
    }
};
