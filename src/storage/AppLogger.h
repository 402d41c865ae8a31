#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <optional>

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

    std::optional<QString> logFilePath() const;
    void setLogFilePath(std::optional<QString> path);
    QString subsystem() const { return m_subsystem; }

    void log(const QString& message, LogType type = LogType::defaultLevel);
    void log(const QString& message, LogType type, const QString& user);
    void appendToLogFile(const QByteArray& data);

    static QString defaultLogFilePath();

private:
    QString timestamp() const;
    void emitRecord(const QString& entry, LogType type) const;

    const QString m_subsystem;
    const QString m_category = QStringLiteral("general");
    // Guards only the path: a path swapped while another thread logs must not tear.
    mutable QMutex m_pathMutex;
    std::optional<QString> m_logFilePath;
};
