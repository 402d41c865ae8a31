#pragma once

#include "networking/NetworkingError.h"
#include "platform/Published.h"
#include "storage/AppLogger.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>

#include <exception>
#include <optional>
#include <vector>

// What the three flows share in turning replies and errors into their status line and log lines.
class AppViewModel;

namespace flows {

// Watches a flow object across the waits of one request step. The screen that owns the flow can go while
// a request is out: the flow is then not touched again, and the overlay it raised is cleared on the app
// state, which outlives every screen.
class FlowGuard {
public:
    FlowGuard(QObject* flow, AppViewModel& appViewModel);
    // True, after clearing the overlay, when the flow object is gone.
    bool flowGone() const;

private:
    QPointer<QObject> m_flow;
    QPointer<QObject> m_appViewModel;
};

inline const QString unknownErrorMessage = QStringLiteral("An unknown error occurred");
inline const QString offlineMessage = QStringLiteral("Your device appears to be offline");
inline const QString keyringUnansweredMessage =
    QStringLiteral("The keyring is locked or did not answer, so nothing was sent. Unlock it and try again.");
inline const QString keyMissingMessage =
    QStringLiteral("The keyring does not hold this user's device key, so nothing was sent.");

// Makes `errorMessage` say that something failed whenever the app state could not read the stored users:
// the screen stays as it is rather than taking the store for one without users. Keep the subscription
// no longer than `errorMessage`.
[[nodiscard]] rx::AnyCancellable showStoreReadFailures(AppViewModel& appViewModel,
                                                       rx::Published<QString>& errorMessage);

// What an awaited call gave: its value, or what it threw. A coroutine cannot await inside a catch block, so
// the flows take the outcome first and decide after checking that their screen is still there.
template <typename T> struct Outcome {
    T value{};
    std::exception_ptr error;
};

template <typename T> QCoro::Task<Outcome<T>> attempt(QCoro::Task<T> task) {
    Outcome<T> outcome;
    try {
        outcome.value = co_await std::move(task);
    } catch (...) {
        outcome.error = std::current_exception();
    }
    co_return outcome;
}

// The status-line text for a thrown error, or absent when the line is to stay as it is: a networking error
// for an HTTP failure (3xx to 5xx) reads as unknown, any other networking error says nothing new; a missing
// connection reads as offline; anything else shows its own description.
std::optional<QString> messageForError(std::exception_ptr error);

// The message of a server result code; a code the client does not know reads as unknown.
QString resultCodeMessage(qint64 resultCode);

// "Response: " and the printed form of an optional pretty-printed reply: Optional("...") or nil.
QString responseLogLine(const std::optional<QString>& json);

// Both codes present and both 0.
bool isSuccess(const std::optional<qint64>& errorCode, const std::optional<qint64>& resultCode);

// The number of user-perceived characters (extended grapheme clusters) of a text, and the text cut into them.
std::vector<QString> userPerceivedCharacters(const QString& text);

void logError(const QString& message, const QString& user);

} // namespace flows
