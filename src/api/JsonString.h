#pragma once

#include "JsonCoding.h"

namespace detail {
// Pretty-prints an encoded object or array; nothing for any other value.
std::optional<QString> prettyJson(const QJsonValue& encoded);
void reportEncodingFailure(const coding::EncodingError& error);
} // namespace detail

// The value as indented, multi-line JSON for log text, with secret fields redacted. Never throws: a value
// without a JSON form prints one line to standard output and gives nothing.
template <typename T>
std::optional<QString> jsonString(const T& value) {
    try {
        return detail::prettyJson(coding::encode(value, coding::EncodeMode::redactSecrets));
    } catch (const coding::EncodingError& error) {
        detail::reportEncodingFailure(error);
        return std::nullopt;
    }
}
