#include "Repository.h"

#include "DevelopmentTrust.h"
#include "Environment.h"
#include "networking/NetworkingClient.h"
#include "networking/NetworkingLogger.h"
#include "networking/URLLoading.h"
#include "platform/Console.h"

#include <QJsonDocument>

namespace {

void printLine(const QString& text) {
    console::print(NetworkingLogger::debugForm(text));
}

} // namespace

Repository::Repository(NetworkingClient& webservice)
    : webservice(webservice) {}

QCoro::Task<CommonResponse> Repository::validateUser(CreateAccountRequest request) {
    const Params params = asParams(request);
    co_return co_await webservice.post<CommonResponse>(Endpoint::registrationValidate(), params);
}

QCoro::Task<AuthResponse> Repository::registerUser(CreateAccountRequest request) {
    const Params params = asParams(request);
    co_return co_await webservice.post<AuthResponse>(Endpoint::desktopUserRegister(), params);
}

QCoro::Task<CommonResponse> Repository::manageDevice(RemoveDeviceRequest request) {
    const Params params = asParams(request);
    co_return co_await webservice.post<CommonResponse>(Endpoint::deviceManage(), params);
}

QCoro::Task<VerifyDidResponse> Repository::verifyDid(VerifyDidRequest request) {
    const Params params = asParams(request);
    co_return co_await webservice.post<VerifyDidResponse>(Endpoint::verifyDid(), params);
}

QCoro::Task<VerifyDidResponse> Repository::confirmQid(VerifyDidRequest request) {
    const Params params = asParams(request);
    co_return co_await webservice.post<VerifyDidResponse>(Endpoint::confirmQid(), params);
}

QCoro::Task<VerifyDidResponse> Repository::verifyValidationCode(VerifyDidRequest request) {
    const Params params = asParams(request);
    co_return co_await webservice.post<VerifyDidResponse>(Endpoint::verifyValidationCode(), params);
}

QCoro::Task<VersionInfoResponse> Repository::fetchVersionInfo() {
    co_return co_await webservice.post<VersionInfoResponse>(Endpoint::versionQuery(), Params{});
}

QCoro::Task<NonExistingUsersResponse> Repository::checkNonExistingUsers(std::vector<CurrentUser> users) {
    URLRequest request;
    request.url =
        QUrl(BuildConfiguration::shared().apiBaseURL() + Endpoint::desktopInitializeUsersNotExist());
    request.timeoutInterval = 60;
    request.setValue(QStringLiteral("application/json"), QStringLiteral("Content-Type"));
    request.httpMethod = QStringLiteral("POST");
    request.httpBody = QJsonDocument(coding::encode(users).toArray()).toJson(QJsonDocument::Compact);

    // Built here rather than by the client, so it must ask for the development trust itself.
    const URLLoadResult result = co_await URLSession::data(
        request, DevelopmentTrust::shared().sessionConfiguration(request.url), m_checks.makeTask());
    const auto reply = coding::decode<NonExistingUsersResponse>(result.data);

    printLine(request.url.toString(QUrl::FullyEncoded));
    printLine(QStringLiteral("NonExistingUsersResponse(%1)")
                  .arg(QString::fromUtf8(
                      QJsonDocument(coding::encode(reply).toObject()).toJson(QJsonDocument::Compact))));
    co_return reply;
}
