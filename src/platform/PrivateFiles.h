#pragma once

#include <QFileDevice>
#include <QString>

// Files and folders that only their owner may read: the store holds e-mail addresses and the PIN's digest,
// the logs name users. Whatever the umask, folders are made 0700 and files 0600, and ones left wider by an
// earlier run are narrowed when they are next used.
namespace privatefiles {

inline constexpr QFileDevice::Permissions fileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Creates the folder and its missing parents owner-only, and narrows the folder itself when it is wider.
// False when it cannot be made.
bool makeFolder(const QString& path);

// Narrows the file to owner read and write when it exists with a wider mode.
void narrowFile(const QString& path);

// Makes the file (empty) owner-only when it is missing, or narrows it, in a folder made by makeFolder.
bool prepareFile(const QString& path);

} // namespace privatefiles
