#include "AppLogger.h"

#include "BundleInfo.h"
#include "Console.h"
#include "Journal.h"
#include "platform/PrivateFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

QMutex& optionsMutex() {
    static QMutex mutex;
    return mutex;
}

struct PendingOptions {
    AppLogger::Options options;
    bool used = false;
};

PendingOptions& pendingOptions() {
    static PendingOptions pending;
    return pending;
}

journal::Priority priorityFor(AppLogger::LogType type) {
    switch (type) {
    case AppLogger::LogType::debug:
        return journal::Priority::debug;
    case AppLogger::LogType::info:
        return journal::Priority::info;
    case AppLogger::LogType::defaultLevel:
        return journal::Priority::notice;
    case AppLogger::LogType::error:
        return journal::Priority::error;
    case AppLogger::LogType::fault:
        return journal::Priority::critical;
    }
    return journal::Priority::notice;
}

} // namespace

bool AppLogger::configure(Options options) {
    QMutexLocker lock(&optionsMutex());
    if (pendingOptions().used)
        return false;
    pendingOptions().options = std::move(options);
    return true;
}

AppLogger& AppLogger::shared() {
    static AppLogger instance([] {
        QMutexLocker lock(&optionsMutex());
        pendingOptions().used = true;
        return pendingOptions().options;
    }());
    return instance;
}

namespace {

// Each entry is one line of the file: line breaks inside a text (a server's message, say) are escaped, so no
// text can forge entries of its own.
QString oneLine(QString text) {
    return text.replace(u'\r', QLatin1String("\\r")).replace(u'\n', QLatin1String("\\n"));
}

} // namespace

QString AppLogger::defaultLogFilePath() {
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dataDir.isEmpty())
        return {};
    return QDir(dataDir).filePath(QStringLiteral("Logs/quorvaleapp.log"));
}

AppLogger::AppLogger(Options options)
    : m_subsystem(options.bundleIdentifier ? *options.bundleIdentifier
                                           : BundleInfo::string(QStringLiteral("CFBundleIdentifier"))
                                                 .value_or(QStringLiteral("com.quorvale.identifier"))) {
    if (options.logFilePath) {
        m_logFilePath = options.logFilePath;
    } else if (const QString path = defaultLogFilePath(); !path.isEmpty()) {
        m_logFilePath = path;
    }
    if (m_logFilePath) {
        privatefiles::narrowFile(*m_logFilePath);
        if (QFileInfo::exists(*m_logFilePath))
            privatefiles::makeFolder(QFileInfo(*m_logFilePath).absolutePath());
    }
}

std::optional<QString> AppLogger::logFilePath() const {
    QMutexLocker lock(&m_pathMutex);
    return m_logFilePath;
}

void AppLogger::setLogFilePath(std::optional<QString> path) {
    QMutexLocker lock(&m_pathMutex);
    m_logFilePath = std::move(path);
}

QString AppLogger::timestamp() const {
    return QLocale::system().toString(QDateTime::currentDateTime(),
                                      QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

void AppLogger::emitRecord(const QString& entry, LogType type) const {
    journal::send(priorityFor(type), m_subsystem, m_category, entry);
}

void AppLogger::log(const QString& message, LogType type) {
    const QString entry =
        QStringLiteral("Quorvale://[") + timestamp() + QStringLiteral("] ") + oneLine(message) + u'\n';
    emitRecord(entry, type);
    appendToLogFile(entry.toUtf8());
}

void AppLogger::appendToLogFile(const QByteArray& data) {
    const std::optional<QString> path = logFilePath();
    if (!path)
        return;
    // Plain entries never create the file; only an entry that names a user does.
    QFile file(*path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly)) {
        console::print(u"Unable to open log file.");
        return;
    }
    file.write(data);
}

void AppLogger::log(const QString& message, LogType type, const QString& user) {
    const QString entry = QStringLiteral("Quorvale://[") + timestamp() + QStringLiteral(", user: ") +
                          oneLine(user) + QStringLiteral("] ") + oneLine(message) + u'\n';
    const std::optional<QString> path = logFilePath();
    if (!path)
        return;
    emitRecord(entry, type);
    const QByteArray bytes = entry.toUtf8();
    QFile file(*path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly)) {
        file.write(bytes);
        return;
    }
    // The Logs folder always exists where this log was first kept; here it may not yet.
    privatefiles::makeFolder(QFileInfo(*path).absolutePath());
    QSaveFile created(*path);
    if (created.open(QIODevice::WriteOnly)) {
        created.setPermissions(privatefiles::fileMode);
        created.write(bytes);
        created.commit();
    }
}
