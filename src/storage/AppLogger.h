#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <memory>
#include <optional>

class QFile;

// The application's diagnostic log: each entry goes to the journal and to Logs/quorvaleapp.log under the
// application's data directory. Callable from any thread; nothing is reported back to the caller.
// Never pass it a PIN, an activation code or key material.
class AppLogger {
public:
    enum class LogType { defaultLevel, info, debug, error, fault };

    struct Options {
        // The subsystem of the journal records; by default the bundle identifier, else
        // "com.quorvale.identifier".
        std::optional<QString> bundleIdentifier;
        // The log file; by default Logs/quorvaleapp.log under the application's data directory.
        std::optional<QString> logFilePath;
    };

    // Sets what `shared()` is built from. Takes effect only before the first use of `shared()`.
    static bool configure(Options options);
    static AppLogger& shared();

    explicit AppLogger(Options options = {});
    ~AppLogger();

    std::optional<QString> logFilePath() const;
    void setLogFilePath(std::optional<QString> path);
    QString subsystem() const { return m_subsystem; }

    void log(const QString& message, LogType type = LogType::defaultLevel);
    void log(const QString& message, LogType type, const QString& user);
    void appendToLogFile(const QByteArray& data);

    static QString defaultLogFilePath();

private:
    static QString timestamp();
    void emitRecord(const QString& entry, LogType type) const;
    // Appends to the existing file at `path` through the handle kept from earlier entries; false when the
    // file cannot be opened. Called with m_fileMutex held.
    bool appendToExistingFile(const QString& path, const QByteArray& bytes);

    const QString m_subsystem;
    const QString m_category = QStringLiteral("general");
    // Guards only the path: a path swapped while another thread logs must not tear.
    mutable QMutex m_pathMutex;
    std::optional<QString> m_logFilePath;
    // The log file stays open between entries; the lock keeps entries from several threads whole.
    QMutex m_fileMutex;
    std::unique_ptr<QFile> m_file;
};
