#include "StoreLock.h"

#include "platform/PrivateFiles.h"
#include "storage/PersistentContainer.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

StoreLock::StoreLock(const QString& storePath)
    : m_path((storePath.isEmpty() ? PersistentContainer::defaultStorePath() : storePath) +
             QStringLiteral(".lock")) {}

StoreLock::~StoreLock() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

StoreLock::Outcome StoreLock::take() {
    if (m_descriptor >= 0)
        return Outcome::held;
    const auto failed = [this](const QString& what) {
        m_error = QStringLiteral("%1 %2: %3").arg(what, m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return Outcome::unavailable;
    };
    if (!privatefiles::makeFolder(QFileInfo(m_path).absolutePath()))
        return failed(QStringLiteral("cannot make the folder of"));
    // Never through a link: whoever planted one would choose which file this process locks.
    const int descriptor =
        ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0)
        return failed(QStringLiteral("cannot open"));
    ::fchmod(descriptor, 0600);
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        ::close(descriptor);
        if (reason == EWOULDBLOCK) {
            m_error = QStringLiteral("%1 is locked by a running client").arg(m_path);
            return Outcome::takenByAnother;
        }
        errno = reason;
        return failed(QStringLiteral("cannot lock"));
    }
    m_descriptor = descriptor;
    return Outcome::held;
}
