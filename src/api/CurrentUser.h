#pragma once

#include "JsonCoding.h"

// One stored user as the check for users that no longer exist sends it. All four keys are always written,
// with empty text for what the stored record lacks.
struct CurrentUser {
    QString primaryAttr;
    QString orgCode;
    QString suid;
    QString zid;

    bool operator==(const CurrentUser&) const = default;

    static auto codingFields() {
        using coding::required;
        return std::tuple{required("primaryAttr", &CurrentUser::primaryAttr),
                          required("orgCode", &CurrentUser::orgCode), required("suid", &CurrentUser::suid),
                          required("zid", &CurrentUser::zid)};
    }
};
