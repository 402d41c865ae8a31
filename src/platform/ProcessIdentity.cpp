#include "ProcessIdentity.h"

#include <QFile>
#include <QStringList>

#include <optional>

#include <unistd.h>

namespace processidentity {

namespace {

std::optional<QByteArray> readProcFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll().trimmed();
}

std::optional<QByteArray> bootId() {
    return readProcFile(QStringLiteral("/proc/sys/kernel/random/boot_id"));
}

struct ProcessStat {
    QByteArray state;
    QByteArray startTime;
};

// The state (the 3rd field of /proc/<pid>/stat) and the start time in clock ticks after boot (the 22nd);
// absent when there is no such process. The command name (field 2) may hold spaces and parentheses, so
// fields are counted from its closing parenthesis, after which the 3rd field starts.
std::optional<ProcessStat> processStat(qint64 pid) {
    const std::optional<QByteArray> stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat)
        return std::nullopt;
    const qsizetype nameEnd = stat->lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat->mid(nameEnd + 1).simplified().split(' ');
    constexpr qsizetype stateField = 3 - 3;
    constexpr qsizetype startTimeField = 22 - 3;
    if (fields.size() <= startTimeField)
        return std::nullopt;
    return ProcessStat{fields[stateField], fields[startTimeField]};
}

} // namespace

QString current() {
    const qint64 pid = ::getpid();
    const std::optional<ProcessStat> stat = processStat(pid);
    return QString::fromLatin1(bootId().value_or("unknown-boot")) + u'/' + QString::number(pid) + u'/' +
           QString::fromLatin1(stat ? stat->startTime : QByteArrayLiteral("unknown-start"));
}

bool isRunning(const QString& identity) {
    const QStringList parts = identity.split(u'/');
    bool numeric = false;
    const qint64 pid = parts.size() == 3 ? parts[1].toLongLong(&numeric) : 0;
    if (!numeric || pid <= 0)
        return true;
    const std::optional<QByteArray> boot = bootId();
    if (!boot)
        return true;
    // Another boot's processes have all ended.
    if (parts[0].toLatin1() != *boot)
        return false;
    // A process id handed on to a later process comes with a later start time. A process killed but not
    // yet reaped by its parent (a zombie, or one being torn down) runs no more code of its own.
    const std::optional<ProcessStat> stat = processStat(pid);
    return stat && parts[2].toLatin1() == stat->startTime && stat->state != "Z" && stat->state != "X";
}

} // namespace processidentity
