#include "VersionCheck.h"

namespace versioncheck {

namespace {

bool isDigit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Compares the digit runs starting at i and j by value and moves both indices past their runs.
int compareNumberRuns(const QString& a, qsizetype& i, const QString& b, qsizetype& j) {
    while (i < a.size() && a[i] == u'0')
        ++i;
    while (j < b.size() && b[j] == u'0')
        ++j;
    const qsizetype startA = i;
    const qsizetype startB = j;
    while (i < a.size() && isDigit(a[i]))
        ++i;
    while (j < b.size() && isDigit(b[j]))
        ++j;
    const qsizetype lengthA = i - startA;
    const qsizetype lengthB = j - startB;
    if (lengthA != lengthB)
        return lengthA < lengthB ? -1 : 1;
    for (qsizetype k = 0; k < lengthA; ++k) {
        if (a[startA + k] != b[startB + k])
            return a[startA + k] < b[startB + k] ? -1 : 1;
    }
    return 0;
}

} // namespace

int compare(const QString& left, const QString& right) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < left.size() && j < right.size()) {
        if (isDigit(left[i]) && isDigit(right[j])) {
            if (const int order = compareNumberRuns(left, i, right, j); order != 0)
                return order;
            continue;
        }
        if (left[i] != right[j])
            return left[i] < right[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < left.size())
        return 1;
    if (j < right.size())
        return -1;
    return 0;
}

bool isGatedEnvironment(const QString& environmentName) {
    return environmentName == QLatin1String("Release(Production)") ||
           environmentName == QLatin1String("Release(UAT)") ||
           environmentName == QLatin1String("Debug(Development)") ||
           environmentName == QLatin1String("Debug(QA)") || environmentName == QLatin1String("Debug(UAT)");
}

std::optional<LaunchConfigurationState> decide(const QString& latest, const QString& min,
                                               const QString& running, bool gated) {
    if (!gated || !isAbove(latest, running))
        return std::nullopt;
    return isAbove(min, running) ? LaunchConfigurationState::forceUpgrade
                                 : LaunchConfigurationState::normalUpdate;
}

} // namespace versioncheck
