#pragma once

#include <QDateTime>

class DateHelper {
public:
    // The minutes part (within its hour) of the time from `from` to `to`: 0 to 59, negative when `to`
    // lies before `from`.
    static int minutesComponent(const QDateTime& from, const QDateTime& to);
};
