#include "ResultCodeError.h"

namespace {

bool requiresLogout(ResultCode type) {
    return type == ResultCode::suidDoesNotExist || type == ResultCode::zidDoesNotExist;
}

} // namespace

ResultCodeError::ResultCodeError(qint64 code)
    : m_type(ResultCode::fromRawValue(code).value_or(ResultCode::unknown))
    , m_logoutRequired(requiresLogout(m_type)) {}

QString ResultCodeError::title() const {
    return QStringLiteral("Request Failed");
}

QString ResultCodeError::message() const {
    return m_type.message();
}

QString ResultCodeError::buttonTitle() const {
    return requiresLogout(m_type) ? QStringLiteral("Logout") : QStringLiteral("Ok");
}
