#include "WebserviceError.h"

WebserviceError::WebserviceError()
    : WebserviceError(QStringLiteral("unknown"), std::nullopt) {}

WebserviceError::WebserviceError(const std::optional<QString>& code, const std::optional<QString>& message)
    : m_type(ErrorType::unknown()) {
    if (code && *code == somethingWentWrongCode())
        m_type = ErrorType::somethingWentWrong();
    else if (message)
        m_type = ErrorType::general(*message);
}
