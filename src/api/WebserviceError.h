#pragma once

#include <QString>

#include <optional>

// A failed web-service call as the error screens see it.
class WebserviceError {
public:
    // What went wrong: a message of the service's own (`general`), nothing known, or the generic failure.
    class ErrorType {
    public:
        enum class Kind { general, unknown, somethingWentWrong };

        static ErrorType general(QString message) { return ErrorType(Kind::general, std::move(message)); }
        static ErrorType unknown() { return ErrorType(Kind::unknown, {}); }
        static ErrorType somethingWentWrong() { return ErrorType(Kind::somethingWentWrong, {}); }

        Kind kind() const { return m_kind; }
        // The carried text of `general`; empty for the other kinds.
        const QString& message() const { return m_message; }

        friend bool operator==(const ErrorType&, const ErrorType&) = default;

    private:
        ErrorType(Kind kind, QString message)
            : m_kind(kind)
            , m_message(std::move(message)) {}

        Kind m_kind;
        QString m_message;
    };

    // The generic failure of a call with the code "unknown" and no message: type `unknown`.
    WebserviceError();
    // Code "1" is the generic failure whatever the message; otherwise a message makes it `general`.
    WebserviceError(const std::optional<QString>& code, const std::optional<QString>& message);

    QString somethingWentWrongCode() const { return QStringLiteral("1"); }
    const ErrorType& type() const { return m_type; }

    friend bool operator==(const WebserviceError&, const WebserviceError&) = default;

private:
    ErrorType m_type;
};
