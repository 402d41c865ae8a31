#pragma once

#include "api/AuthResponse.h"
#include "api/CommonResponse.h"
#include "platform/Published.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>

class AppViewModel;
class UserAccountAPIRepository;

// The signed-in user removes themselves from this device: a signed "remove" request to the service, then
// the user's record and device key go and the session ends. Lives on the main thread; the remove-user
// screen owns it.
class RemoveUserViewModel : public QObject, public rx::ObservableObject {
    Q_OBJECT

public:
    // `repository` and `appViewModel` must outlive this object.
    RemoveUserViewModel(AppViewModel& appViewModel, UserAccountAPIRepository* repository,
                        QObject* parent = nullptr);

    AppViewModel& appViewModel;
    UserAccountAPIRepository* repository;
    rx::Published<QString> errorMessage{*this};

    // Returns at once; the request runs on the event loop.
    void removeUser();
    void handleError(std::exception_ptr error);
    void handleRemoveResponse(const CommonResponse& response);

private:
    QCoro::Task<> sendRemoval(AuthResponse user);
    QString currentUserEmail() const;
    rx::AnyCancellable m_storeReadFailures;
};
