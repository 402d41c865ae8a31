#include "CrashReporting.h"

#include "PrivateFiles.h"
#include "PropertyList.h"
#include "SecretText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

namespace {

constexpr int kMaxBreadcrumbs = 64;

QMutex& sharedLock() {
    static QMutex mutex;
    return mutex;
}

std::shared_ptr<CrashReporter>& sharedReporter() {
    static std::shared_ptr<CrashReporter> reporter;
    return reporter;
}

} // namespace

CrashReporter::~CrashReporter() = default;

CrashReporter& CrashReporter::shared() {
    QMutexLocker locker(&sharedLock());
    if (!sharedReporter())
        sharedReporter() = std::make_shared<FileCrashReporter>();
    return *sharedReporter();
}

void CrashReporter::setShared(std::shared_ptr<CrashReporter> reporter) {
    QMutexLocker locker(&sharedLock());
    sharedReporter() = std::move(reporter);
}

bool CrashReporter::configure(const QString& optionsPath) {
    const auto options = plist::readDictionary(optionsPath);
    if (!options)
        return false;
    const QString fileName = QFileInfo(options->value(QStringLiteral("REPORTS_FILE")).toString()).fileName();
    setShared(std::make_shared<FileCrashReporter>(
        fileName.isEmpty() ? QString()
                           : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                                 QLatin1Char('/') + fileName));
    return true;
}

FileCrashReporter::FileCrashReporter(QString reportsPath)
    : m_reportsPath(std::move(reportsPath)) {
    if (m_reportsPath.isEmpty())
        m_reportsPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                        QStringLiteral("/crash-reports.log");
}

void FileCrashReporter::log(const QString& line) {
    m_breadcrumbs.append(redacted(line));
    while (m_breadcrumbs.size() > kMaxBreadcrumbs)
        m_breadcrumbs.removeFirst();
}

void FileCrashReporter::setCustomValue(const QString& value, const QString& key) {
    m_customValues.insert(key, value);
}

void FileCrashReporter::record(const ExceptionModel& exception) {
    privatefiles::makeFolder(QFileInfo(m_reportsPath).absolutePath());
    privatefiles::narrowFile(m_reportsPath);
    QFile file(m_reportsPath);
    if (!file.open(QIODevice::Append | QIODevice::Text, privatefiles::fileMode))
        return;
    QString text = QStringLiteral("== %1 %2\nreason: %3\n")
                       .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), exception.name,
                            redacted(exception.reason));
    for (auto it = m_customValues.cbegin(); it != m_customValues.cend(); ++it)
        text += QStringLiteral("custom: %1 = %2\n").arg(it.key(), it.value());
    for (const QString& line : std::as_const(m_breadcrumbs))
        text += QStringLiteral("log: %1\n").arg(line);
    file.write(text.toUtf8());
    m_breadcrumbs.clear();
}

QString FileCrashReporter::redacted(QString text) {
    // A request body can hold the activation code; such values never reach the reports file. Line breaks are
    // escaped, so a reply's text cannot forge lines of the file.
    return redactSecretValues(std::move(text))
        .replace(u'\r', QLatin1String("\\r"))
        .replace(u'\n', QLatin1String("\\n"));
}
