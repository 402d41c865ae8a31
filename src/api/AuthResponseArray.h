#pragma once

#include "AuthResponse.h"

#include <optional>
#include <vector>

namespace AuthResponseArray {

// The same records, in the same order, as optional values (the form the user chooser binds to).
inline std::vector<std::optional<AuthResponse>> asOptionals(const std::vector<AuthResponse>& users) {
    return {users.begin(), users.end()};
}

} // namespace AuthResponseArray
