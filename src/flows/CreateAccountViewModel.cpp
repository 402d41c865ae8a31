#include "CreateAccountViewModel.h"

#include "FlowSupport.h"
#include "RequestSigner.h"

#include "api/JsonString.h"
#include "api/Repository.h"
#include "api/ResultCode.h"
#include "app/AppViewModel.h"
#include "platform/SecretText.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyAttempt.h"
#include "storage/KeyChain.h"

#include <QCoroFuture>
#include <QPointer>
#include <QUuid>

using namespace std::chrono_literals;

namespace {

enum class RegisteredKey { held, missing, unanswered };

bool isAcceptedRegistration(const AuthResponse& response) {
    return !(response.alert && response.alert->message) &&
           flows::isSuccess(response.errorCode, response.resultCode);
}

// Keeps the newly registered user on this device, its record naming the attempt's key. False when the store
// did not keep the record: then nobody is enrolled, and the record is not the current user. The attempt's
// record names the user first, so that a run ending from here on leaves the key to that user.
bool storeRegisteredUser(AppViewModel& appViewModel, AuthResponse response, KeyAttempt& attempt) {
    const std::optional<KeyChain::KnownKey> key = attempt.key();
    if (!response.zid || !key || !attempt.forUser(*response.zid))
        return false;
    response.keyTag = key->tag;
    response.keyIdentity = key->identity;
    appViewModel.authDetails = response;
    const auto& users = appViewModel.userDetailsList.get();
    const bool named = appViewModel.isAuthDetailsStored() && users &&
                       std::any_of(users->begin(), users->end(), [&](const AuthResponse& user) {
                           return user.zid == response.zid && KeyChain::namedKey(user) == key;
                       });
    if (!named) {
        // A record of that zid that names another key is not this enrolment's to keep or to delete.
        appViewModel.authDetails = std::nullopt;
        return false;
    }
    CoreDataManager::shared().refreshDisplayEmails(response.email.value_or(QString()));
    return true;
}

// Whether the keyring holds the key the stored user's record names, asked off the UI thread. When it does
// not, the user goes again, with what the record names: an enrolment that cannot sign is no enrolment.
// Then the users are listed as the store holds them.
QCoro::Task<RegisteredKey> confirmKeyHeld(QPointer<AppViewModel> app, AuthResponse response,
                                          KeyAttempt& attempt) {
    const std::optional<KeyChain::KnownKey> key = attempt.key();
    std::optional<bool> held = false;
    if (key) {
        // Made outside the co_await expression: temporaries there have been destroyed twice by the compiler
        // we build with.
        QCoro::Task<std::optional<bool>> look = KeyChain::holdsKeyAsync(*key);
        held = co_await look;
    }
    if (held == true) {
        attempt.userStored();
    } else if (response.zid && CoreDataManager::shared().deleteAuthResponse(*response.zid)) {
        // The removal has taken the key into its own record.
        attempt.userStored();
        if (app && app->authDetails.get() && app->authDetails.get()->zid == response.zid)
            app->authDetails = std::nullopt;
    }
    if (app)
        app->reloadStoredUsers();
    co_return held == true ? RegisteredKey::held : held ? RegisteredKey::missing : RegisteredKey::unanswered;
}

} // namespace

CreateAccountViewModel::CreateAccountViewModel(UserAccountAPIRepository* repository,
                                               AppViewModel& appViewModel, QObject* parent)
    : CreateAccountViewModel(repository, appViewModel, Clock::system(), parent) {}

CreateAccountViewModel::CreateAccountViewModel(UserAccountAPIRepository* repository,
                                               AppViewModel& appViewModel, Clock& clock, QObject* parent)
    : QObject(parent)
    , repository(repository)
    , appViewModel(appViewModel)
    , m_clock(clock)
    , m_storeReadFailures(flows::showStoreReadFailures(appViewModel, errorMessage)) {}

CreateAccountViewModel::~CreateAccountViewModel() = default;

QString CreateAccountViewModel::emailKey() const {
    return email.get().toLower();
}

QString CreateAccountViewModel::currentUserEmail() const {
    const auto& user = appViewModel.authDetails.get();
    return user && user->email ? *user->email : QString();
}

void CreateAccountViewModel::deleteExistingUser() {
    const QString key = emailKey();
    if (orgCode && !key.isEmpty())
        CoreDataManager::shared().deleteUsers(key, *orgCode);
    showUserExistWarning = false;
    isUserValidated = true;
    orgCode.reset();
}

void CreateAccountViewModel::resetForm() {
    isChecked = false;
    isUserValidated = false;
    showUserExistWarning = false;
    email = QString();
    activationCode = QString();
}

QCoro::Task<> CreateAccountViewModel::validateUser(QString activationCode, QString email) {
    CreateAccountRequest request;
    request.activationCode = activationCode;
    request.type = QStringLiteral("desktop");
    request.orgEmail = email.toLower();
    createAccountRequest = request;

    const flows::FlowGuard guard(this, appViewModel);
    if (!repository) {
        appViewModel.isLoading = false;
        co_return;
    }
    request.timestamp = RequestSigner::timestamp();

    QCoro::Task<flows::Outcome<CommonResponse>> validation =
        flows::attempt(repository->validateUser(std::move(request)));
    auto [response, error] = co_await validation;
    if (guard.flowGone())
        co_return;
    if (error)
        handleError(error);
    else
        handleValidateResponse(response);
}

void CreateAccountViewModel::handleError(std::exception_ptr error) {
    showErrorMessage(error);
}

void CreateAccountViewModel::handleValidateResponse(const CommonResponse& response) {
    appViewModel.isLoading = false;
    if (response.alert && response.alert->message) {
        errorMessage = *response.alert->message;
        return;
    }
    if (!flows::isSuccess(response.errorCode, response.resultCode)) {
        flows::logError(flows::responseLogLine(jsonString(response)), currentUserEmail());
        if (!response.resultCode)
            errorMessage = flows::unknownErrorMessage;
        else if (response.errorMessage)
            errorMessage = *response.errorMessage;
        else
            errorMessage = flows::resultCodeMessage(*response.resultCode);
        return;
    }

    const auto& users = appViewModel.userDetailsList.get();
    if (!users)
        return;
    const QString key = emailKey();
    for (const AuthResponse& user : *users) {
        if (user.email && *user.email == key && user.orgCode == response.orgCode) {
            orgCode = user.orgCode;
            showUserExistWarning = true;
            return;
        }
    }
    isUserValidated = true;
}

QCoro::Task<> CreateAccountViewModel::createAccount(QString pin) {
    // One activation makes one user: the completion message stays a moment, and a second registration
    // from it would enrol the same person again.
    if (m_registered) {
        wipeText(pin);
        co_return;
    }
    appViewModel.isLoading = true;
    const QString pinHash = KeyChain::sha256Hex(pin);
    // This coroutine's own copy of the PIN would otherwise stay in memory until registration ends.
    wipeText(pin);

    const flows::FlowGuard guard(this, appViewModel);
    // Recorded before the key exists, so that a key left by a run that ends meanwhile is known for what it
    // is; without the record no key is made, since nothing could ever tell it apart from a user's key.
    std::optional<KeyAttempt> attempt = KeyAttempt::begin(CoreDataManager::shared(), emailKey(), pinHash);
    if (!attempt) {
        appViewModel.isLoading = false;
        errorMessage = flows::unknownErrorMessage;
        co_return;
    }
    QCoro::Task<> registration = registerDevice(*attempt, pinHash, guard);
    co_await registration;
    // Whatever happened to the screen meanwhile: a key made for a user that was not stored goes, or it would
    // lie in the keyring for good, usable by nobody.
    QCoro::Task<> ending = attempt->end();
    co_await ending;
}

QCoro::Task<> CreateAccountViewModel::registerDevice(KeyAttempt& attempt, QString pinHash,
                                                     const flows::FlowGuard& guard) {
    // A new key takes a moment to generate; the window stays responsive meanwhile.
    QCoro::Task<std::optional<KeyChain::KeyPair>> making = attempt.makeKeyPair();
    const std::optional<KeyChain::KeyPair> keyPair = co_await making;
    if (guard.flowGone())
        co_return;
    if (!keyPair) {
        AppLogger::shared().log(QStringLiteral("Public key couldn't found. Returns"),
                                AppLogger::LogType::error);
        appViewModel.isLoading = false;
        errorMessage =
            attempt.keyringUnanswered() ? flows::keyringUnansweredMessage : flows::unknownErrorMessage;
        co_return;
    }
    const std::optional<QString> publicKey = KeyChain::publicKeyString(keyPair->publicKey);
    if (!createAccountRequest) {
        AppLogger::shared().log(QStringLiteral("createAccountRequest is not availble. Returns"),
                                AppLogger::LogType::error);
        appViewModel.isLoading = false;
        co_return;
    }
    if (!repository) {
        appViewModel.isLoading = false;
        co_return;
    }

    const CreateAccountRequest& stored = *createAccountRequest;
    CreateAccountRequest request;
    if (stored.email && !stored.email->isEmpty())
        request.email = stored.email;
    request.mobile = stored.mobile;
    request.activationCode = stored.activationCode;
    request.signature = stored.signature;
    request.suid = stored.suid;
    request.zid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    request.publicKey = publicKey;
    request.timestamp = RequestSigner::timestamp();
    request.orgEmail = stored.orgEmail;
    request.deviceNickName = stored.deviceNickName;

    const std::optional<QString> sentOrgEmail = request.orgEmail;
    const QPointer<AppViewModel> app(&appViewModel);
    QCoro::Task<flows::Outcome<AuthResponse>> registration =
        flows::attempt(repository->registerUser(std::move(request)));
    auto [response, error] = co_await registration;
    if (guard.flowGone()) {
        // The service has registered the device by now; the user must not be lost with the screen.
        if (!error && app) {
            response.email = sentOrgEmail;
            response.pin = pinHash;
            if (isAcceptedRegistration(response) && storeRegisteredUser(*app, response, attempt)) {
                QCoro::Task<RegisteredKey> confirming = confirmKeyHeld(app, response, attempt);
                co_await confirming;
            }
        }
        co_return;
    }
    if (error) {
        handleCreateAccountError(error);
        co_return;
    }

    response.email = createAccountRequest ? createAccountRequest->orgEmail : std::nullopt;
    response.pin = pinHash;
    QCoro::Task<> handling = handleCreateAccountResponse(response, attempt);
    co_await handling;
    if (guard.flowGone())
        co_return;
    appViewModel.isLoading = false;
}

QCoro::Task<> CreateAccountViewModel::handleCreateAccountResponse(AuthResponse response,
                                                                  KeyAttempt& attempt) {
    if (response.alert && response.alert->message) {
        errorMessage = *response.alert->message;
        co_return;
    }
    if (!isAcceptedRegistration(response)) {
        flows::logError(flows::responseLogLine(jsonString(response)), currentUserEmail());
        if (!response.resultCode) {
            errorMessage = flows::unknownErrorMessage;
        } else if (const auto code = ResultCode::fromRawValue(*response.resultCode)) {
            errorMessage = code->message();
        } else {
            errorMessage = QString();
        }
        co_return;
    }

    // The service has taken the activation code, but a device that could not be saved here is not enrolled.
    if (!storeRegisteredUser(appViewModel, response, attempt)) {
        errorMessage = flows::unknownErrorMessage;
        co_return;
    }
    m_registered = true;
    const QPointer<CreateAccountViewModel> self(this);
    QCoro::Task<RegisteredKey> confirming = confirmKeyHeld(&appViewModel, response, attempt);
    const RegisteredKey key = co_await confirming;
    if (!self)
        co_return;
    // Completion is said only once the user's record names a key the keyring holds.
    if (key != RegisteredKey::held) {
        m_registered = false;
        errorMessage =
            key == RegisteredKey::unanswered ? flows::keyringUnansweredMessage : flows::unknownErrorMessage;
        co_return;
    }
    if (response.email)
        showRegistrationComplete(*response.email);
}

void CreateAccountViewModel::showRegistrationComplete(const QString& name) {
    showSucces = true;
    errorMessage = QStringLiteral("Registration complete. You can login by selecting ") + name +
                   QStringLiteral(" from the login tab.");
    AppLogger::shared().log(errorMessage.get(), AppLogger::LogType::info, currentUserEmail());
    std::erase_if(m_delayed, [](const auto& call) { return !call->isPending(); });
    m_delayed.push_back(m_clock.scheduleOnce(2s, this, [this] {
        showSucces = false;
        errorMessage = QString();
        appViewModel.currentTab = TabType::login;
    }));
}

void CreateAccountViewModel::handleCreateAccountError(std::exception_ptr error) {
    flows::logError(localizedDescription(error), currentUserEmail());
    showErrorMessage(error);
}

void CreateAccountViewModel::showErrorMessage(std::exception_ptr error) {
    appViewModel.isLoading = false;
    if (const auto message = flows::messageForError(error))
        errorMessage = *message;
}
