#pragma once

#include <QString>

#include <exception>
#include <string>

// The store cannot be loaded: its file cannot be read, is no database, or was written by a newer program.
// The program cannot run without it; the one who catches this says so in their own way and ends. The file
// is left exactly as it was.
class PersistentStoreError : public std::exception {
public:
    PersistentStoreError(QString storePath, QString reason)
        : m_storePath(std::move(storePath))
        , m_reason(std::move(reason))
        , m_what((QStringLiteral("Error loading persistent store: ") + m_reason +
                  QStringLiteral(", {path = \"") + m_storePath + QStringLiteral("\"}"))
                     .toStdString()) {}

    const QString& storePath() const { return m_storePath; }
    // SQLite's or the schema check's own words.
    const QString& reason() const { return m_reason; }
    // The stop's message: "Error loading persistent store: <reason>, {path = "<path>"}".
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    QString m_storePath;
    QString m_reason;
    std::string m_what;
};
