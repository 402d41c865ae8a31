#pragma once

#include "JsonCoding.h"

// A confirmation the server asks for in an approval reply; only a non-empty `message` matters.
struct ConfirmModel {
    std::optional<QString> title;
    std::optional<QString> message;
    std::optional<QString> action;
    std::optional<QString> yes;
    std::optional<QString> no;

    bool operator==(const ConfirmModel&) const = default;

    static auto codingFields() {
        return std::tuple{coding::field("title", &ConfirmModel::title),
                          coding::field("message", &ConfirmModel::message),
                          coding::field("action", &ConfirmModel::action),
                          coding::field("yes", &ConfirmModel::yes),
                          coding::field("no", &ConfirmModel::no)};
    }
};
