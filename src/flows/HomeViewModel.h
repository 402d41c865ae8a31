#pragma once

#include "api/OrgCode.h"
#include "api/VerifyDidResponse.h"
#include "app/Clock.h"
#include "platform/Published.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <memory>
#include <optional>
#include <vector>

class AppViewModel;
class VerifyCodeHomeAPIRepository;

// The state behind the unlock and home screens: unlocking the current user with the PIN (wrong attempts
// counted, a temporary lock, then removal from the device), and approving sign-ins with signed requests.
// Lives on the main thread; the screen that shows it owns it.
class HomeViewModel : public QObject, public rx::ObservableObject {
    Q_OBJECT

public:
    // What one unlock attempt comes to; showPinError() turns it into the status line.
    enum class PinOutcome {
        invalidBeforeLock,
        lockStarted,
        invalidBeforeRemoval,
        stillLocked,
        permanentlyLocked,
        invalidPin,
        noUser,
    };

    // `repository` may be absent (then nothing is sent); it and `appViewModel` must outlive this object.
    HomeViewModel(VerifyCodeHomeAPIRepository* repository, AppViewModel& appViewModel,
                  QObject* parent = nullptr);
    HomeViewModel(VerifyCodeHomeAPIRepository* repository, AppViewModel& appViewModel, Clock& clock,
                  QObject* parent = nullptr);
    ~HomeViewModel() override;

    VerifyCodeHomeAPIRepository* repository;
    AppViewModel& appViewModel;
    // The one status line of the unlock and home screens.
    rx::Published<QString> errorMessage{*this};
    // The organisations to choose from when the user exists in several, and the chosen one.
    rx::Published<std::vector<OrgCode>> orgCodes{*this};
    rx::Published<QString> orgCode{*this};
    // The signed-in user's e-mail as shown.
    rx::Published<QString> email{*this};
    // The first code of the approval in progress.
    rx::Published<QString> verificationCode{*this};
    rx::Published<bool> showSucces{*this, false};
    // The home screen asks for the second code.
    rx::Published<bool> show2Fa{*this, false};
    // The texts of the home screen's code fields; only the screen writes them.
    rx::Published<QString> codeValue{*this};
    rx::Published<QString> otpValue{*this};
    // The lifetime of the second code; replacing or dropping it stops it.
    std::unique_ptr<ScheduledCall> codeTimer;

    // Clears the approval state.
    void resetValues();
    // One unlock attempt for the current user; `email` names the user in the log and, on success, on screen.
    void verifyPin(const QString& email, const QString& pin);

    // The approval: the code as entered or pasted, the confirmation, and the second code.
    QCoro::Task<> verifyDid(QString code);
    void handleVerifyResponse(const VerifyDidResponse& response);
    void handleVerifyFailure(const VerifyDidResponse& response);
    void handleRequestError(std::exception_ptr error);
    QCoro::Task<> confirmQid();
    void handleConfirmResponse(const VerifyDidResponse& response);
    void verifyCode(const QString& code);
    void handleLoginResponse(const VerifyDidResponse& response);
    void handleNetworkError(std::exception_ptr error);
    void showSuccess(const std::optional<QString>& message);
    void showPinError(PinOutcome outcome, const QString& email);
    void startCodeTimer(qint64 seconds);

private:
    void unlock(const QString& email);
    bool lockRunOut(const QDateTime& lockedAt) const;
    QCoro::Task<> sendValidationCode(QString code);
    QString currentUserEmail() const;
    void logError(const QString& message);
    // Runs `follow` two seconds from now on the main thread, unless this object is gone by then.
    void afterTwoSeconds(std::function<void()> follow);
    // The same, for follow-ups that must run even when this object is gone by then.
    void afterTwoSecondsOnApp(std::function<void()> follow);

    Clock& m_clock;
    std::vector<std::unique_ptr<ScheduledCall>> m_delayed;
    rx::AnyCancellable m_storeReadFailures;
};
