#pragma once

#include "WebserviceError.h"

// A web-service failure together with the kind of screen that shows it.
class AppError {
public:
    enum class ScreenType { unknown, profile, general };

    // Exact, case-sensitive match of "unknown", "profile" or "general".
    static std::optional<ScreenType> screenTypeFromRawValue(const QString& rawValue);
    static QString rawValue(ScreenType type);

    // A web-service error of unknown type makes the screen type unknown as well.
    AppError(ScreenType type, WebserviceError webserviceError);

    ScreenType type() const { return m_type; }
    const WebserviceError& webserviceError() const { return m_webserviceError; }

    QString title() const;
    QString message() const;
    // Absent when there is nothing to acknowledge.
    std::optional<QString> buttonTitle() const;

    friend bool operator==(const AppError&, const AppError&) = default;

private:
    ScreenType m_type;
    WebserviceError m_webserviceError;
};
