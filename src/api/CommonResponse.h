#pragma once

#include "AlertModel.h"

// The reply envelope of the enrolment validation and the device removal.
struct CommonResponse {
    std::optional<qint64> errorCode;
    std::optional<qint64> resultCode;
    std::optional<QString> errorTitle;
    std::optional<QString> errorMessage;
    std::optional<QString> orgCode;
    std::optional<AlertModel> alert;

    bool operator==(const CommonResponse&) const = default;

    static auto codingFields() {
        return std::tuple{coding::field("errorCode", &CommonResponse::errorCode),
                          coding::field("resultCode", &CommonResponse::resultCode),
                          coding::field("errorTitle", &CommonResponse::errorTitle),
                          coding::field("errorMessage", &CommonResponse::errorMessage),
                          coding::field("orgCode", &CommonResponse::orgCode),
                          coding::field("alert", &CommonResponse::alert)};
    }
};
