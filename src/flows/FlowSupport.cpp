#include "FlowSupport.h"

#include "api/ResultCode.h"
#include "app/AppViewModel.h"
#include "networking/NetworkingError.h"
#include "platform/Console.h"
#include "platform/JsonCoding.h"

#include <QTextBoundaryFinder>

namespace flows {

FlowGuard::FlowGuard(QObject* flow, AppViewModel& appViewModel)
    : m_flow(flow)
    , m_appViewModel(&appViewModel) {}

bool FlowGuard::flowGone() const {
    if (m_flow)
        return false;
    if (m_appViewModel)
        static_cast<AppViewModel*>(m_appViewModel.data())->isLoading = false;
    return true;
}

rx::AnyCancellable showStoreReadFailures(AppViewModel& appViewModel, rx::Published<QString>& errorMessage) {
    return appViewModel.storeReadFailed.sink(
        [&errorMessage](rx::Void) { errorMessage = unknownErrorMessage; });
}

std::optional<QString> messageForError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const NetworkingError& networkingError) {
        if (NetworkingError::isHTTPFailure(networkingError.status))
            return unknownErrorMessage;
        return std::nullopt;
    } catch (const URLError& urlError) {
        if (urlError.code() == URLError::notConnectedToInternet)
            return offlineMessage;
        return urlError.localizedDescription();
    } catch (...) {
        return localizedDescription(error);
    }
}

QString resultCodeMessage(qint64 resultCode) {
    return ResultCode::fromRawValue(resultCode).value_or(ResultCode::unknown).message();
}

QString responseLogLine(const std::optional<QString>& json) {
    return QStringLiteral("Response: ") +
           (json ? QStringLiteral("Optional(") + console::debugForm(*json) + u')' : QStringLiteral("nil"));
}

bool isSuccess(const std::optional<qint64>& errorCode, const std::optional<qint64>& resultCode) {
    return errorCode == 0 && resultCode == 0;
}

std::vector<QString> userPerceivedCharacters(const QString& text) {
    std::vector<QString> characters;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        characters.push_back(text.mid(start, end - start));
        start = end;
    }
    return characters;
}

void logError(const QString& message, const QString& user) {
    AppLogger::shared().log(message, AppLogger::LogType::error, user);
}

} // namespace flows
