#include "AppError.h"

namespace {

bool isUnknown(const WebserviceError& error) {
    return error.type().kind() == WebserviceError::ErrorType::Kind::unknown;
}

} // namespace

std::optional<AppError::ScreenType> AppError::screenTypeFromRawValue(const QString& rawValue) {
    for (ScreenType type : {ScreenType::unknown, ScreenType::profile, ScreenType::general}) {
        if (AppError::rawValue(type) == rawValue)
            return type;
    }
    return std::nullopt;
}

QString AppError::rawValue(ScreenType type) {
    switch (type) {
    case ScreenType::unknown:
        return QStringLiteral("unknown");
    case ScreenType::profile:
        return QStringLiteral("profile");
    case ScreenType::general:
        return QStringLiteral("general");
    }
    return QStringLiteral("unknown");
}

AppError::AppError(ScreenType type, WebserviceError webserviceError)
    : m_type(isUnknown(webserviceError) ? ScreenType::unknown : type)
    , m_webserviceError(std::move(webserviceError)) {}

QString AppError::title() const {
    return QStringLiteral("Error");
}

QString AppError::message() const {
    if (m_type == ScreenType::unknown || isUnknown(m_webserviceError))
        return {};
    if (m_webserviceError.type().kind() == WebserviceError::ErrorType::Kind::somethingWentWrong)
        return QStringLiteral("An unknown error occurred");
    return m_webserviceError.type().message();
}

std::optional<QString> AppError::buttonTitle() const {
    if (isUnknown(m_webserviceError))
        return std::nullopt;
    return QStringLiteral("Ok");
}
