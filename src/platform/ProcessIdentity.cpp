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

// The start time in clock ticks after boot, the 22nd field of /proc/<pid>/stat; absent when there is no
// such process. The command name (field 2) may hold spaces and parentheses, so fields are counted from
// its closing parenthesis, after which the 3rd field starts.
std::optional<QByteArray> startTime(qint64 pid) {
    const std::optional<QByteArray> stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat)
        return std::nullopt;
    const qsizetype nameEnd = stat->lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat->mid(nameEnd + 1).simplified().split(' ');
    constexpr qsizetype startTimeField = 22 - 3;
    if (fields.size() <= startTimeField)
        return std::nullopt;
    return fields[startTimeField];
}

} // namespace

QString current() {
    const qint64 pid = ::getpid();
    return QString::fromLatin1(bootId().value_or("unknown-boot")) + u'/' + QString::number(pid) + u'/' +
           QString::fromLatin1(startTime(pid).value_or("unknown-start"));
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
    // A process id handed on to a later process comes with a later start time.
    const std::optional<QByteArray> started = startTime(pid);
    return started && parts[2].toLatin1() == *started;
}

} // namespace processidentity
