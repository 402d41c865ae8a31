#pragma once

#include <QString>

// The systemd journal: one record per call, tagged with a subsystem and a category so the program's
// entries can be picked out (journalctl QUORVALE_SUBSYSTEM=...). Safe from any thread; when no journal
// is reachable the record is dropped.
namespace journal {

enum class Priority { debug, info, notice, error, critical };

void send(Priority priority, const QString& subsystem, const QString& category, const QString& message);

} // namespace journal
