#include "DateHelper.h"

int DateHelper::minutesComponent(const QDateTime& from, const QDateTime& to) {
    // Integer division truncates toward zero, which is what keeps the sign for past dates.
    const qint64 seconds = (to.toMSecsSinceEpoch() - from.toMSecsSinceEpoch()) / 1000;
    return int((seconds % 3600) / 60);
}
