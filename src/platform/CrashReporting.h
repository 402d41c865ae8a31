#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

// A report of a failure that did not stop the program.
struct ExceptionModel {
    QString name;
    QString reason;

    bool operator==(const ExceptionModel&) const = default;
};

// The crash-reporting service: breadcrumb log lines, custom values and non-fatal exception reports.
class CrashReporter {
public:
    virtual ~CrashReporter();

    virtual void log(const QString& line) = 0;
    virtual void setCustomValue(const QString& value, const QString& key) = 0;
    virtual void record(const ExceptionModel& exception) = 0;

    // The process-wide service; a FileCrashReporter under the application's data directory until another is
    // installed.
    static CrashReporter& shared();
    static void setShared(std::shared_ptr<CrashReporter> reporter);

    // Reads the service's options file (a property list) and installs the file-backed reporter writing to its
    // "REPORTS_FILE" under the application's data directory; false when the file is missing or unreadable.
    static bool configure(const QString& optionsPath = bundledOptionsPath());
    // The options file among the application's resources.
    static QString bundledOptionsPath() { return QStringLiteral(":/GoogleService-Info-Production.plist"); }
};

// Keeps breadcrumbs and custom values in memory and appends each non-fatal report, with them, to a file.
// Values under keys that carry secrets are masked before anything reaches the file.
class FileCrashReporter final : public CrashReporter {
public:
    // `reportsPath` empty: "crash-reports.log" in the application's data directory.
    explicit FileCrashReporter(QString reportsPath = {});

    void log(const QString& line) override;
    void setCustomValue(const QString& value, const QString& key) override;
    void record(const ExceptionModel& exception) override;

    const QString& reportsPath() const { return m_reportsPath; }

    // The text with the values of secret JSON members replaced by "<redacted>".
    static QString redacted(QString text);

private:
    QString m_reportsPath;
    QStringList m_breadcrumbs;
    QHash<QString, QString> m_customValues;
};
