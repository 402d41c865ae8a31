#include "RemoveUserViewModel.h"

#include "FlowSupport.h"
#include "RequestSigner.h"

#include "api/JsonString.h"
#include "api/Repository.h"
#include "api/ResultCode.h"
#include "app/AppViewModel.h"

#include <QPointer>

RemoveUserViewModel::RemoveUserViewModel(AppViewModel& appViewModel, UserAccountAPIRepository* repository,
                                         QObject* parent)
    : QObject(parent)
    , appViewModel(appViewModel)
    , repository(repository)
    , m_storeReadFailures(flows::showStoreReadFailures(appViewModel, errorMessage)) {}

QString RemoveUserViewModel::currentUserEmail() const {
    const auto& user = appViewModel.authDetails.get();
    return user && user->email ? *user->email : QString();
}

void RemoveUserViewModel::removeUser() {
    const std::optional<AuthResponse> user = appViewModel.authDetails.get();
    appViewModel.isLoading = true;
    if (!user || !user->suid || !user->zid) {
        appViewModel.isLoading = false;
        return;
    }
    // The request works on its own copy: later changes of the current user don't change what is sent.
    sendRemoval(*user);
}

QCoro::Task<> RemoveUserViewModel::sendRemoval(AuthResponse user) {
    const flows::FlowGuard guard(this, appViewModel);
    QCoro::Task<SigningOutcome> signing =
        RequestSigner::sign(user, RequestSigner::manageDeviceMessage(*user.suid, *user.zid));
    const SigningOutcome outcome = co_await signing;
    if (guard.flowGone())
        co_return;
    if (!outcome.signature || !repository) {
        // Nothing goes out; the overlay must not stay up over a dialog that waits for nothing.
        appViewModel.isLoading = false;
        if (const std::optional<QString> message = RequestSigner::failureMessage(outcome))
            errorMessage = *message;
        co_return;
    }

    RemoveDeviceRequest request;
    request.suid = user.suid;
    request.zid = user.zid;
    request.signature = outcome.signature->signature;
    request.action = QStringLiteral("remove");
    request.requestZid = user.zid;
    request.timestamp = outcome.signature->timestamp;

    const QPointer<AppViewModel> app(&appViewModel);
    auto [response, error] = co_await flows::attempt(repository->manageDevice(std::move(request)));
    if (guard.flowGone()) {
        // The service has let the device go by now; the user must not stay enrolled here with the dialog
        // gone.
        if (!error && app &&
            (flows::isSuccess(response.errorCode, response.resultCode) ||
             response.resultCode == ResultCode::reqZidDoesNotExist))
            app->removeCurrentUser();
        co_return;
    }
    if (error)
        handleError(error);
    else
        handleRemoveResponse(response);
}

void RemoveUserViewModel::handleRemoveResponse(const CommonResponse& response) {
    appViewModel.isLoading = false;
    if (response.alert && response.alert->message)
        errorMessage = *response.alert->message;
    if (flows::isSuccess(response.errorCode, response.resultCode)) {
        appViewModel.removeCurrentUser();
        return;
    }
    flows::logError(flows::responseLogLine(jsonString(response)), currentUserEmail());
    if (!response.resultCode) {
        errorMessage = flows::unknownErrorMessage;
        return;
    }
    // The service no longer knows this device for the user: it goes from here as well.
    if (*response.resultCode == ResultCode::reqZidDoesNotExist)
        appViewModel.removeCurrentUser();
    errorMessage =
        response.errorMessage ? *response.errorMessage : flows::resultCodeMessage(*response.resultCode);
}

void RemoveUserViewModel::handleError(std::exception_ptr error) {
    flows::logError(localizedDescription(error), currentUserEmail());
    appViewModel.isLoading = false;
    if (const auto message = flows::messageForError(error))
        errorMessage = *message;
}
