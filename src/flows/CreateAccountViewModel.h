#pragma once

#include "api/AuthResponse.h"
#include "api/CommonResponse.h"
#include "api/CreateAccountRequest.h"
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
class KeyAttempt;
class UserAccountAPIRepository;

namespace flows {
class FlowGuard;
}

// The enrolment of this device for one user: the server validates the e-mail and activation code, then
// registers a fresh device key for the chosen PIN. Neither call is signed. Lives on the main thread; the
// registration screen owns it.
class CreateAccountViewModel : public QObject, public rx::ObservableObject {
    Q_OBJECT

public:
    // `repository` and `appViewModel` must outlive this object.
    CreateAccountViewModel(UserAccountAPIRepository* repository, AppViewModel& appViewModel,
                           QObject* parent = nullptr);
    CreateAccountViewModel(UserAccountAPIRepository* repository, AppViewModel& appViewModel, Clock& clock,
                           QObject* parent = nullptr);
    ~CreateAccountViewModel() override;

    UserAccountAPIRepository* repository;
    AppViewModel& appViewModel;
    rx::Published<QString> errorMessage{*this};
    // The screen moves on to choosing the PIN.
    rx::Published<bool> isUserValidated{*this, false};
    // The user is already enrolled here with this organisation: the screen asks whether to register anew.
    rx::Published<bool> showUserExistWarning{*this, false};
    rx::Published<QString> email{*this};
    rx::Published<QString> activationCode{*this};
    // The request of the last validation, kept for the registration.
    std::optional<CreateAccountRequest> createAccountRequest;
    rx::Published<bool> showSucces{*this, false};
    // The terms consent.
    rx::Published<bool> isChecked{*this, false};
    // The organisation of the already enrolled user that the validation found.
    std::optional<QString> orgCode;

    // A registration has succeeded: this device is enrolled with the activation code, and nothing more is
    // sent from here.
    bool isRegistered() const { return m_registered; }

    // The register-anew answers: delete the enrolled user and go on, or start over.
    void deleteExistingUser();
    void resetForm();
    QCoro::Task<> validateUser(QString activationCode, QString email);
    void handleError(std::exception_ptr error);
    void handleValidateResponse(const CommonResponse& response);
    QCoro::Task<> createAccount(QString pin);
    // Stores an accepted registration's user and moves its key to the final tag (telling `attempt`), or shows
    // why the registration failed. Ends early, without touching this object, when it is gone meanwhile.
    QCoro::Task<> handleCreateAccountResponse(AuthResponse response, KeyAttempt& attempt);
    void showRegistrationComplete(const QString& name);
    void handleCreateAccountError(std::exception_ptr error);

private:
    // The registration proper, with the key of `attempt`; the user it stores, if any, is told to `attempt`.
    // Ends early, without touching this object, when the guarded flow is gone.
    QCoro::Task<> registerDevice(KeyAttempt& attempt, QString pinHash, const flows::FlowGuard& guard);
    // The e-mail as the flow sends, compares, tags and deletes it.
    QString emailKey() const;
    QString currentUserEmail() const;
    void showErrorMessage(std::exception_ptr error);

    Clock& m_clock;
    std::vector<std::unique_ptr<ScheduledCall>> m_delayed;
    bool m_registered = false;
    rx::AnyCancellable m_storeReadFailures;
};
