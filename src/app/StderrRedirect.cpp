#include "StderrRedirect.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void redirectStderrToLogFile() {
    const QStringList documents = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(QDir(documents.first()).filePath(QStringLiteral("app.log")));
    // Open first and then take over the descriptor, so a file that cannot be opened leaves stderr usable.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    // A file an earlier run left readable by others is narrowed too.
    ::fchmod(fd, 0600);
    std::fflush(stderr);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
}
