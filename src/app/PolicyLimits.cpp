#include "PolicyLimits.h"

#include <limits>

namespace policy {

std::optional<qint64> parseInteger(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate towards the negative side so that the minimum value parses without overflow.
    qint64 value = 0;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == lowest)
        return std::nullopt;
    return -value;
}

namespace {

qint64 valueOr(const std::optional<QString>& text, qint64 fallback) {
    if (!text)
        return fallback;
    return parseInteger(*text).value_or(fallback);
}

} // namespace

void applyPolicyTexts(const PolicyTexts& texts) {
    maxLoginAttempts = valueOr(texts.maxLoginAttempts, defaultMaxLoginAttempts);
    maxRemoveAccountLoginAttempts =
        valueOr(texts.maxRemoveAccountLoginAttempts, defaultMaxRemoveAccountLoginAttempts);
    desktopForceLogout = valueOr(texts.desktopForceLogout, defaultDesktopForceLogout);
    lockoutDurationMinutes = valueOr(texts.lockoutDurationMinutes, defaultLockoutDurationMinutes);
    desktopIdleSession = valueOr(texts.desktopIdleSession, defaultDesktopIdleSession);
    desktopUserInActivityThreshold =
        valueOr(texts.desktopUserInActivityThreshold, defaultDesktopUserInActivityThreshold);
}

void resetToDefaults() {
    applyPolicyTexts({});
}

} // namespace policy
