#pragma once

// What the window shows at launch: the normal screens, or the update reminder (normalUpdate can be
// dismissed, forceUpgrade cannot). Only loading, forceUpgrade and normalUpdate are ever assigned.
enum class LaunchConfigurationState {
    loading,
    forceUpgrade,
    normalUpdate,
    maintenance,
    deviceSecurityCompromised,
    loggedIn
};
