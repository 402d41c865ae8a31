#pragma once

#include "AuthResponse.h"
#include "CommonResponse.h"
#include "CreateAccountRequest.h"
#include "CurrentUser.h"
#include "NonExistingUsersResponse.h"
#include "RemoveDeviceRequest.h"
#include "VerifyDidRequest.h"
#include "VerifyDidResponse.h"
#include "VersionInfoResponse.h"
#include "networking/URLLoading.h"

#include <QCoroTask>

#include <vector>

class NetworkingClient;

// The enrolment and device-removal calls.
class UserAccountAPIRepository {
public:
    virtual ~UserAccountAPIRepository() = default;
    virtual QCoro::Task<CommonResponse> validateUser(CreateAccountRequest request) = 0;
    virtual QCoro::Task<AuthResponse> registerUser(CreateAccountRequest request) = 0;
    virtual QCoro::Task<CommonResponse> manageDevice(RemoveDeviceRequest request) = 0;
};

class RepositoryType : public UserAccountAPIRepository {};

// The approval calls, the version request and the check for users the service no longer knows.
class VerifyCodeHomeAPIRepository {
public:
    virtual ~VerifyCodeHomeAPIRepository() = default;
    virtual QCoro::Task<VerifyDidResponse> verifyDid(VerifyDidRequest request) = 0;
    virtual QCoro::Task<VerifyDidResponse> confirmQid(VerifyDidRequest request) = 0;
    virtual QCoro::Task<VerifyDidResponse> verifyValidationCode(VerifyDidRequest request) = 0;
    virtual QCoro::Task<VersionInfoResponse> fetchVersionInfo() = 0;
    virtual QCoro::Task<NonExistingUsersResponse> checkNonExistingUsers(std::vector<CurrentUser> users) = 0;
};

// The API entry of the flows and the app state, over the one client. Every error of the client or of the
// parameter conversion reaches the caller unchanged.
class Repository : public RepositoryType, public VerifyCodeHomeAPIRepository {
public:
    explicit Repository(NetworkingClient& webservice);

    NetworkingClient& webservice;

    QCoro::Task<CommonResponse> validateUser(CreateAccountRequest request) override;
    QCoro::Task<AuthResponse> registerUser(CreateAccountRequest request) override;
    QCoro::Task<CommonResponse> manageDevice(RemoveDeviceRequest request) override;
    QCoro::Task<VerifyDidResponse> verifyDid(VerifyDidRequest request) override;
    QCoro::Task<VerifyDidResponse> confirmQid(VerifyDidRequest request) override;
    QCoro::Task<VerifyDidResponse> verifyValidationCode(VerifyDidRequest request) override;
    QCoro::Task<VersionInfoResponse> fetchVersionInfo() override;
    // Goes straight to the loading layer, past the client: only "Content-Type" as header, no logging by the
    // client, and a reply of any status is decoded alike. Cancelled when the repository goes, like the
    // client's calls when the client goes.
    QCoro::Task<NonExistingUsersResponse> checkNonExistingUsers(std::vector<CurrentUser> users) override;

private:
    URLSessionTasks m_checks;
};
