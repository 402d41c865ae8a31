#pragma once

#include "LaunchConfigurationState.h"

#include <QString>

#include <optional>

namespace versioncheck {

// Orders two version texts the way people read them: runs of decimal digits compare by their numeric
// value (leading zeros do not count), every other character compares one by one, and a text that runs
// out first is below the other. So 1.10.0 is above 1.9.2, 2.0 above 1.99, and "" below every other text.
// Returns -1, 0 or 1.
int compare(const QString& left, const QString& right);

inline bool isAbove(const QString& left, const QString& right) {
    return compare(left, right) > 0;
}

// The build environments in which the update reminder is offered at all.
bool isGatedEnvironment(const QString& environmentName);

// What the version reply asks of the window: nothing while `latest` is not above the running version
// (or the environment is not gated), else forceUpgrade when `min` is above the running version too,
// else normalUpdate.
std::optional<LaunchConfigurationState> decide(const QString& latest, const QString& min,
                                               const QString& running, bool gated);

} // namespace versioncheck
