#pragma once

// Internal to the platform library (and the benchmark that reads the keyring bare): how a device key is
// filed in the Secret Service. Include it before any Qt header; GLib uses names that Qt defines as macros.

#include <libsecret/secret.h>

namespace devicekeyschema {

// Items are found by their tag under "application-tag" and "key-type" = keyType.
inline const SecretSchema* schema() {
    static const SecretSchema schema = [] {
        SecretSchema built{};
        built.name = "com.quorvale.DeviceKey";
        built.flags = SECRET_SCHEMA_NONE;
        built.attributes[0] = {"application-tag", SECRET_SCHEMA_ATTRIBUTE_STRING};
        built.attributes[1] = {"key-type", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return built;
    }();
    return &schema;
}

inline constexpr const char* keyType = "rsa";

} // namespace devicekeyschema
