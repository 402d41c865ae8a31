#include "StderrRedirect.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

void redirectStderrToLogFile() {
    const QStringList documents = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(QDir(documents.first()).filePath(QStringLiteral("app.log")));
    // Open first and then take over the descriptor, so a file that cannot be opened leaves stderr usable.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    std::fflush(stderr);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
}
