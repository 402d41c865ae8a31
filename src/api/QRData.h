#pragma once

#include "JsonCoding.h"

// The content of a sign-in QR code: the sign-in's identifier and its organisation.
struct QRData {
    std::optional<QString> qid;
    std::optional<QString> org;

    static auto codingFields() {
        return std::tuple{coding::secretField("qid", &QRData::qid), coding::field("org", &QRData::org)};
    }
};
