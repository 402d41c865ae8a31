#pragma once

#include <QString>

#include <QtGlobal>
#include <optional>

// The limits of the server's desktop policy. They hold their defaults until a version reply arrives and
// are written only by applyPolicyTexts(); written and read on the main thread only, so they need no lock.
namespace policy {

inline constexpr qint64 defaultMaxLoginAttempts = 3;
inline constexpr qint64 defaultMaxRemoveAccountLoginAttempts = 5;
inline constexpr qint64 defaultDesktopForceLogout = 2;
inline constexpr qint64 defaultLockoutDurationMinutes = 30;
inline constexpr qint64 defaultDesktopIdleSession = 2;
inline constexpr qint64 defaultDesktopUserInActivityThreshold = 30;

// Wrong PINs before the temporary lock.
inline qint64 maxLoginAttempts = defaultMaxLoginAttempts;
// Further wrong PINs, after the temporary lock, before the user is removed from the device.
inline qint64 maxRemoveAccountLoginAttempts = defaultMaxRemoveAccountLoginAttempts;
// Taken from the policy; nothing acts on it.
inline qint64 desktopForceLogout = defaultDesktopForceLogout;
// Minutes of the temporary lock.
inline qint64 lockoutDurationMinutes = defaultLockoutDurationMinutes;
// Minutes of the idle and background logout timers.
inline qint64 desktopIdleSession = defaultDesktopIdleSession;
// Days without a sign-in after which every enrolled user is wiped at start-up.
inline qint64 desktopUserInActivityThreshold = defaultDesktopUserInActivityThreshold;

// The policy's texts for the six limits; an absent text keeps that limit's default.
struct PolicyTexts {
    std::optional<QString> maxLoginAttempts;
    std::optional<QString> maxRemoveAccountLoginAttempts;
    std::optional<QString> desktopForceLogout;
    std::optional<QString> lockoutDurationMinutes;
    std::optional<QString> desktopIdleSession;
    std::optional<QString> desktopUserInActivityThreshold;
};

// A decimal integer: an optional "+" or "-", then one or more ASCII digits and nothing else, within the
// signed 64-bit range. Anything else (blanks, fractions, letters, the empty text) gives nothing.
std::optional<qint64> parseInteger(const QString& text);

// Sets every limit from its text, falling back to the limit's default value by value.
void applyPolicyTexts(const PolicyTexts& texts);

// Puts every limit back to its default (tests, and a process that starts over).
void resetToDefaults();

} // namespace policy
