#include "AppLogger.h"

#include "BundleInfo.h"
#include "Console.h"
#include "Journal.h"
#include "platform/PrivateFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>

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

AppLogger::~AppLogger() = default;

std::optional<QString> AppLogger::logFilePath() const {
    QMutexLocker lock(&m_pathMutex);
    return m_logFilePath;
}

void AppLogger::setLogFilePath(std::optional<QString> path) {
    QMutexLocker lock(&m_pathMutex);
    m_logFilePath = std::move(path);
}

// Local time as "yyyy-MM-dd HH:mm:ss.SSS". Formatted by hand: going through a locale and a format pattern
// cost more than the rest of an entry.
QString AppLogger::timestamp() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    char text[32];
    const int length =
        std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d", date.year(), date.month(),
                      date.day(), time.hour(), time.minute(), time.second(), time.msec());
    return QString::fromLatin1(text, length);
}

bool AppLogger::appendToExistingFile(const QString& path, const QByteArray& bytes) {
    if (!m_file || m_file->fileName() != path) {
        // Unbuffered: each entry reaches the file as one write, as it is made.
        auto file = std::make_unique<QFile>(path);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly |
                        QIODevice::Unbuffered)) {
            m_file.reset();
            return false;
        }
        m_file = std::move(file);
    }
    m_file->write(bytes);
    return true;
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
    bool appended = false;
    {
        QMutexLocker lock(&m_fileMutex);
        appended = appendToExistingFile(*path, data);
    }
    if (!appended)
        console::print(u"Unable to open log file.");
}

void AppLogger::log(const QString& message, LogType type, const QString& user) {
    const QString entry = QStringLiteral("Quorvale://[") + timestamp() + QStringLiteral(", user: ") +
                          oneLine(user) + QStringLiteral("] ") + oneLine(message) + u'\n';
    const std::optional<QString> path = logFilePath();
    if (!path)
        return;
    emitRecord(entry, type);
    const QByteArray bytes = entry.toUtf8();
    QMutexLocker lock(&m_fileMutex);
    if (appendToExistingFile(*path, bytes))
        return;
    // The Logs folder always exists where this log was first kept; here it may not yet.
    privatefiles::makeFolder(QFileInfo(*path).absolutePath());
    QSaveFile created(*path);
    if (created.open(QIODevice::WriteOnly)) {
        created.setPermissions(privatefiles::fileMode);
        created.write(bytes);
        created.commit();
    }
}
