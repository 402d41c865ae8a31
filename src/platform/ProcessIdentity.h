#pragma once

#include <QString>

// Names a process so that it can later be told whether it still runs: a process id alone may have been
// given to another process since, or belong to an earlier boot.
namespace processidentity {

// This process: "<boot id>/<process id>/<start time>".
QString current();

// Whether the process named by `identity` still runs on this machine; a zombie, killed but not yet reaped,
// runs no more and counts as ended. A name that cannot be checked (no process table to read, a name in
// another form) counts as running: what depends on the answer then waits rather than acting on a guess.
bool isRunning(const QString& identity);

} // namespace processidentity
