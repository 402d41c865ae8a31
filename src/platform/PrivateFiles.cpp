#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace privatefiles {

namespace {

// Takes the group's and others' bits away; a symbolic link is left alone, so nothing is narrowed through it.
void narrow(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(native.constData(), &status) == 0 && !S_ISLNK(status.st_mode) && (status.st_mode & 077) != 0)
        ::chmod(native.constData(), status.st_mode & 07700);
}

} // namespace

bool makeFolder(const QString& path) {
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList missing;
    QString cursor = absolute;
    while (!cursor.isEmpty() && !QFileInfo::exists(cursor)) {
        missing.prepend(cursor);
        const QString parent = QFileInfo(cursor).path();
        if (parent == cursor)
            break;
        cursor = parent;
    }
    for (const QString& folder : std::as_const(missing))
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && !QFileInfo(folder).isDir())
            return false;
    narrow(absolute);
    return QFileInfo(absolute).isDir();
}

void narrowFile(const QString& path) {
    narrow(path);
}

bool prepareFile(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    narrowFile(path);
    return true;
}

} // namespace privatefiles
