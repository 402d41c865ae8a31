#pragma once

#include "JsonCoding.h"

// A message the server attaches to a reply; the flows show its `message`.
struct AlertModel {
    std::optional<QString> title;
    std::optional<QString> message;
    std::optional<QString> action;

    bool operator==(const AlertModel&) const = default;

    static auto codingFields() {
        return std::tuple{coding::field("title", &AlertModel::title),
                          coding::field("message", &AlertModel::message),
                          coding::field("action", &AlertModel::action)};
    }
};
