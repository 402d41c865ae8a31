#pragma once

#include "JsonCoding.h"

// The organisation's desktop policy. Every value travels as text, numbers too; whoever applies the policy
// parses what it uses.
struct DesktopConfig {
    std::optional<QString> desktopUserInActivityThreshold;
    std::optional<QString> desktopMaxSession;
    std::optional<QString> desktopIdleSession;
    std::optional<QString> desktopForceLogout;
    std::optional<QString> maxLoginAttempts;
    std::optional<QString> lockoutDurationMinutes;
    std::optional<QString> maxRemoveAccountLoginAttempts;
    std::optional<QString> desktopAppScreenShareDisabled;

    bool operator==(const DesktopConfig&) const = default;

    static auto codingFields() {
        using coding::field;
        return std::tuple{field("desktopUserInActivityThreshold", &DesktopConfig::desktopUserInActivityThreshold),
                          field("desktopMaxSession", &DesktopConfig::desktopMaxSession),
                          field("desktopIdleSession", &DesktopConfig::desktopIdleSession),
                          field("desktopForceLogout", &DesktopConfig::desktopForceLogout),
                          field("maxLoginAttempts", &DesktopConfig::maxLoginAttempts),
                          field("lockoutDurationMinutes", &DesktopConfig::lockoutDurationMinutes),
                          field("maxRemoveAccountLoginAttempts", &DesktopConfig::maxRemoveAccountLoginAttempts),
                          field("desktopAppScreenShareDisabled", &DesktopConfig::desktopAppScreenShareDisabled)};
    }
};
