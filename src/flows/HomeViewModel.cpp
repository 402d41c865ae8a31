#include "HomeViewModel.h"

#include "FlowSupport.h"
#include "RequestSigner.h"

#include "api/JsonString.h"
#include "api/Repository.h"
#include "api/ResultCode.h"
#include "app/AppViewModel.h"
#include "app/PolicyLimits.h"
#include "storage/CoreDataManager.h"
#include "storage/DateHelper.h"
#include "storage/KeyChain.h"

#include <QPointer>

#include <algorithm>
#include <chrono>
#include <cstdlib>

using namespace std::chrono_literals;

namespace {

// The part every approval call shares: who signs, when, and the signature.
VerifyDidRequest signedRequest(const AuthResponse& user, const RequestSignature& signature) {
    VerifyDidRequest request;
    request.timestamp = signature.timestamp;
    request.suid = user.suid;
    request.zid = user.zid;
    request.signature = signature.signature;
    return request;
}

const QString webAuthenticationSource = QStringLiteral("WEBAUTHN");
constexpr qint64 alertSuccessResultCode = 72;
constexpr qint64 defaultCodeLifetimeSeconds = 60;

QString attempts(qint64 count) {
    return count == 1 ? QStringLiteral(" attempt ") : QStringLiteral(" attempts ");
}

std::optional<QString> nonEmpty(const QString& text) {
    return text.isEmpty() ? std::nullopt : std::optional(text);
}

// The server's alert text, when it has one to show.
std::optional<QString> alertMessage(const VerifyDidResponse& response) {
    if (response.alert && response.alert->message && !response.alert->message->isEmpty())
        return response.alert->message;
    return std::nullopt;
}

} // namespace

HomeViewModel::HomeViewModel(VerifyCodeHomeAPIRepository* repository, AppViewModel& appViewModel,
                             QObject* parent)
    : HomeViewModel(repository, appViewModel, Clock::system(), parent) {}

HomeViewModel::HomeViewModel(VerifyCodeHomeAPIRepository* repository, AppViewModel& appViewModel,
                             Clock& clock, QObject* parent)
    : QObject(parent)
    , repository(repository)
    , appViewModel(appViewModel)
    , m_clock(clock)
    , m_storeReadFailures(flows::showStoreReadFailures(appViewModel, errorMessage)) {
    const auto& user = appViewModel.authDetails.get();
    email = user && user->email ? *user->email : QStringLiteral("User");
}

HomeViewModel::~HomeViewModel() = default;

void HomeViewModel::resetValues() {
    verificationCode = QString();
    orgCode = QString();
    errorMessage = QString();
    orgCodes = std::vector<OrgCode>{};
    show2Fa = false;
}

// --- Unlock ---

void HomeViewModel::verifyPin(const QString& email, const QString& pin) {
    const QString pinHash = KeyChain::sha256Hex(pin);
    const auto& user = appViewModel.authDetails.get();
    if (!user) {
        showPinError(PinOutcome::noUser, email);
        return;
    }
    // A user deleted since it was chosen (locked out for good, gone at the server) is no user to check:
    // every write below would store its record again, with a fresh count. Nor is a user the store cannot
    // tell about: the attempt is not counted, and the failure shows.
    const std::optional<bool> stored = appViewModel.isStoredUser(*user);
    if (!stored) {
        errorMessage = flows::unknownErrorMessage;
        return;
    }
    if (!*stored) {
        appViewModel.authDetails = std::nullopt;
        showPinError(PinOutcome::noUser, email);
        return;
    }

    // The policy can change between two attempts; each attempt reads it afresh.
    const qint64 maxAttempts = policy::maxLoginAttempts;
    const qint64 maxRemoveAttempts = policy::maxRemoveAccountLoginAttempts;
    const std::optional<qint64> count = user->invalidAttemptCount;
    const std::optional<QDateTime> lockedAt = user->lockedTimeStamp;

    const auto modifyUser = [this](const std::function<void(AuthResponse&)>& change) {
        appViewModel.authDetails.modify([&](std::optional<AuthResponse>& record) {
            if (record)
                change(*record);
        });
    };

    if (user->pin && *user->pin == pinHash) {
        if (count && lockedAt && *count == maxAttempts && !lockRunOut(*lockedAt)) {
            // A correct PIN does not open a user during the temporary lock.
            showPinError(PinOutcome::stillLocked, email);
            return;
        }
        unlock(email);
        return;
    }

    if (!count) {
        // The first wrong PIN of a user without a count is not counted.
        modifyUser([](AuthResponse& record) { record.invalidAttemptCount = 0; });
        showPinError(PinOutcome::invalidPin, email);
    } else if (*count < 0) {
    } else if (*count < maxAttempts) {
        showPinError(PinOutcome::invalidBeforeLock, email);
        modifyUser([next = *count + 1](AuthResponse& record) { record.invalidAttemptCount = next; });
    } else if (*count == maxAttempts) {
        if (!lockedAt) {
            showPinError(PinOutcome::lockStarted, email);
            modifyUser([now = m_clock.now()](AuthResponse& record) { record.lockedTimeStamp = now; });
        } else if (!lockRunOut(*lockedAt)) {
            showPinError(PinOutcome::stillLocked, email);
        } else {
            modifyUser([](AuthResponse& record) { record.lockedTimeStamp.reset(); });
            modifyUser([next = maxAttempts + 1](AuthResponse& record) { record.invalidAttemptCount = next; });
            showPinError(PinOutcome::invalidBeforeRemoval, email);
        }
    } else if (*count < maxAttempts + maxRemoveAttempts) {
        modifyUser([next = *count + 1](AuthResponse& record) { record.invalidAttemptCount = next; });
        showPinError(PinOutcome::invalidBeforeRemoval, email);
    } else if (*count == maxAttempts + maxRemoveAttempts) {
        showPinError(PinOutcome::permanentlyLocked, email);
        appViewModel.removeCurrentUser();
        appViewModel.authDetails = std::nullopt;
    }
}

void HomeViewModel::unlock(const QString& email) {
    CoreDataManager& store = CoreDataManager::shared();
    store.saveLastLoginDate(m_clock.now());
    appViewModel.authDetails.modify([](std::optional<AuthResponse>& record) {
        if (record)
            record->invalidAttemptCount.reset();
    });
    // The store keeps a row's count when the record has none: without this the wrong attempts before the
    // unlock would come back after a restart and lock the user out early.
    if (const auto& record = appViewModel.authDetails.get()) {
        AuthResponse stored = *record;
        stored.invalidAttemptCount = 0;
        store.updateAuthResponse(stored);
    }
    // Logout acts only on a signed-in session; choosing a user on the unlock screen is not one.
    appViewModel.markSignedIn();
    appViewModel.tabs = loggedInTabs;
    this->email = email;
    appViewModel.currentTab = TabType::homeScreen;
}

bool HomeViewModel::lockRunOut(const QDateTime& lockedAt) const {
    // Whole minutes either way: a lock time in the future (clock set back) counts by its distance.
    const qint64 minutes = std::llabs(lockedAt.msecsTo(m_clock.now()) / 60000);
    return minutes >= policy::lockoutDurationMinutes;
}

void HomeViewModel::showPinError(PinOutcome outcome, const QString& email) {
    const qint64 maxAttempts = policy::maxLoginAttempts;
    const qint64 maxRemoveAttempts = policy::maxRemoveAccountLoginAttempts;
    const qint64 lockout = policy::lockoutDurationMinutes;
    const auto& user = appViewModel.authDetails.get();
    const qint64 count = user ? user->invalidAttemptCount.value_or(0) : 0;

    QString text;
    switch (outcome) {
    case PinOutcome::invalidBeforeLock: {
        const qint64 left = maxAttempts - count;
        text = QStringLiteral("Invalid PIN. ") + QString::number(left) + attempts(left) +
               QStringLiteral("remaining before you are forced to wait ") + QString::number(lockout) +
               QStringLiteral(" minutes to retry");
        break;
    }
    case PinOutcome::lockStarted:
        text = QStringLiteral("Your account is temporarily locked. Please retry in ") +
               QString::number(lockout) + QStringLiteral(" minutes");
        break;
    case PinOutcome::invalidBeforeRemoval: {
        const qint64 left = maxAttempts + maxRemoveAttempts - count;
        text = QStringLiteral("Invalid PIN. ") + QString::number(left) + attempts(left) +
               QStringLiteral("remaining before your account is permanently locked");
        break;
    }
    case PinOutcome::stillLocked: {
        qint64 remaining = lockout;
        if (user && user->lockedTimeStamp)
            remaining = lockout - DateHelper::minutesComponent(*user->lockedTimeStamp, m_clock.now());
        text = QStringLiteral("Your account is temporarily locked. Please retry in ") +
               QString::number(remaining) +
               (remaining == 1 ? QStringLiteral(" minute") : QStringLiteral(" minutes"));
        break;
    }
    case PinOutcome::permanentlyLocked:
        text = QStringLiteral("Your account is permanently locked. Please contact helpdesk");
        break;
    case PinOutcome::invalidPin:
        text = QStringLiteral("Invalid PIN");
        break;
    case PinOutcome::noUser:
        text = QStringLiteral("No user found");
        break;
    }

    errorMessage = text;
    flows::logError(errorMessage.get(), email);
}

// --- Approval ---

QCoro::Task<> HomeViewModel::verifyDid(QString code) {
    QString org = orgCode.get();
    const std::optional<AuthResponse> user = appViewModel.authDetails.get();
    if (!user || !user->suid || !user->zid)
        co_return;
    appViewModel.isLoading = true;

    QString uniqueId;
    const size_t length = flows::userPerceivedCharacters(code).size();
    if (length >= 7) {
        // A pasted QR text carries its own organisation: "<org>:<uniqueId>".
        const QStringList parts = code.split(u':');
        if (parts.size() >= 2) {
            org = parts[0];
            uniqueId = parts[1];
        }
    } else if (length == 6) {
        uniqueId = code.toUpper();
    } else {
        uniqueId = code;
    }

    const flows::FlowGuard guard(this, appViewModel);
    QCoro::Task<SigningOutcome> signing = RequestSigner::sign(
        *user, RequestSigner::verifyDidMessage(*user->suid, *user->zid, uniqueId, org), true);
    const SigningOutcome outcome = co_await signing;
    if (guard.flowGone())
        co_return;
    if (!outcome.signature || !repository) {
        // Nothing goes out; the overlay must not stay up over a screen that waits for nothing.
        appViewModel.isLoading = false;
        if (const std::optional<QString> message = RequestSigner::failureMessage(outcome))
            errorMessage = *message;
        co_return;
    }

    verificationCode = uniqueId;
    orgCode = org;

    VerifyDidRequest request = signedRequest(*user, *outcome.signature);
    request.uniqueId = uniqueId;
    request.org = nonEmpty(org);

    auto [response, error] = co_await flows::attempt(repository->verifyDid(std::move(request)));
    if (guard.flowGone())
        co_return;
    if (error) {
        handleRequestError(error);
        co_return;
    }
    if (flows::isSuccess(response.errorCode, response.resultCode))
        RequestSigner::nameAcceptedKey(appViewModel, *user, outcome);

    appViewModel.isLoading = false;
    if (const auto alert = alertMessage(response)) {
        if (response.resultCode == alertSuccessResultCode) {
            orgCodes = std::vector<OrgCode>{};
            showSuccess(alert);
        } else {
            errorMessage = *alert;
        }
    } else if (response.resultCode == ResultCode::userExistInMultipleOrg && response.orgCodes &&
               response.orgCodes->size() >= 2) {
        orgCodes = *response.orgCodes;
        orgCode = response.orgCodes->front().orgCode.value_or(QString());
    } else if (flows::isSuccess(response.errorCode, response.resultCode)) {
        handleVerifyResponse(response);
    } else {
        handleVerifyFailure(response);
    }
}

void HomeViewModel::handleVerifyResponse(const VerifyDidResponse& response) {
    orgCode = response.org.value_or(QString());
    if (response.confirm && response.confirm->message && !response.confirm->message->isEmpty()) {
        // The client confirms at once; no dialog is shown.
        confirmQid();
        return;
    }
    if (!response.action) {
        orgCodes = std::vector<OrgCode>{};
        show2Fa = true;
        startCodeTimer(response.ttl.value_or(defaultCodeLifetimeSeconds));
        return;
    }
    if (response.action->toLower() == QStringLiteral("confirm"))
        confirmQid();
}

void HomeViewModel::handleVerifyFailure(const VerifyDidResponse& response) {
    logError(flows::responseLogLine(jsonString(response)));
    orgCodes = std::vector<OrgCode>{};
    orgCode = QString();
    if (!response.resultCode) {
        errorMessage = flows::unknownErrorMessage;
        logError(errorMessage.get());
        return;
    }
    const qint64 resultCode = *response.resultCode;
    if (response.errorMessage) {
        errorMessage = *response.errorMessage;
        logError(errorMessage.get());
        if (resultCode == ResultCode::suidDoesNotExist)
            appViewModel.logout();
        return;
    }
    errorMessage = flows::resultCodeMessage(resultCode);
    logError(errorMessage.get());
    if (resultCode == ResultCode::suidDoesNotExist || resultCode == ResultCode::zidDoesNotExist)
        afterTwoSecondsOnApp([app = &appViewModel] { app->logout(); });
}

void HomeViewModel::handleRequestError(std::exception_ptr error) {
    appViewModel.isLoading = false;
    if (const auto message = flows::messageForError(error))
        errorMessage = *message;
    logError(localizedDescription(error));
}

QCoro::Task<> HomeViewModel::confirmQid() {
    appViewModel.isLoading = true;
    const std::optional<AuthResponse> user = appViewModel.authDetails.get();
    if (!user || !user->suid || !user->zid) {
        appViewModel.isLoading = false;
        co_return;
    }
    const QString code = verificationCode.get();
    const QString org = orgCode.get();

    const flows::FlowGuard guard(this, appViewModel);
    QCoro::Task<SigningOutcome> signing =
        RequestSigner::sign(*user, RequestSigner::confirmQidMessage(*user->suid, *user->zid, code, org));
    const SigningOutcome outcome = co_await signing;
    if (guard.flowGone())
        co_return;
    if (!outcome.signature || !repository) {
        appViewModel.isLoading = false;
        if (const std::optional<QString> message = RequestSigner::failureMessage(outcome))
            errorMessage = *message;
        co_return;
    }

    VerifyDidRequest request = signedRequest(*user, *outcome.signature);
    request.uniqueId = code;
    request.org = nonEmpty(org);
    request.confirm = QStringLiteral("Yes");

    auto [response, error] = co_await flows::attempt(repository->confirmQid(std::move(request)));
    if (guard.flowGone())
        co_return;
    if (error) {
        handleRequestError(error);
        logError(localizedDescription(error));
        co_return;
    }
    if (flows::isSuccess(response.errorCode, response.resultCode))
        RequestSigner::nameAcceptedKey(appViewModel, *user, outcome);
    handleConfirmResponse(response);
}

void HomeViewModel::handleConfirmResponse(const VerifyDidResponse& response) {
    appViewModel.isLoading = false;
    orgCodes = std::vector<OrgCode>{};
    if (flows::isSuccess(response.errorCode, response.resultCode)) {
        showSuccess(response.message);
        return;
    }
    logError(flows::responseLogLine(jsonString(response)));
    if (!response.resultCode)
        errorMessage = flows::unknownErrorMessage;
    else if (response.errorMessage)
        errorMessage = *response.errorMessage;
    else
        errorMessage = flows::resultCodeMessage(*response.resultCode);
    logError(errorMessage.get());
}

void HomeViewModel::verifyCode(const QString& code) {
    codeTimer.reset();
    sendValidationCode(code);
}

QCoro::Task<> HomeViewModel::sendValidationCode(QString code) {
    const std::optional<AuthResponse> user = appViewModel.authDetails.get();
    appViewModel.isLoading = true;
    if (!user || !user->suid || !user->zid) {
        appViewModel.isLoading = false;
        co_return;
    }
    const QString firstCode = verificationCode.get();
    const QString org = orgCode.get();

    const flows::FlowGuard guard(this, appViewModel);
    QCoro::Task<SigningOutcome> signing = RequestSigner::sign(
        *user, RequestSigner::verifyValidationCodeMessage(*user->suid, *user->zid, firstCode, code, org));
    const SigningOutcome outcome = co_await signing;
    if (guard.flowGone())
        co_return;
    if (!outcome.signature || !repository) {
        appViewModel.isLoading = false;
        if (const std::optional<QString> message = RequestSigner::failureMessage(outcome))
            errorMessage = *message;
        co_return;
    }

    VerifyDidRequest request = signedRequest(*user, *outcome.signature);
    request.uniqueId = firstCode.toUpper();
    request.org = nonEmpty(org);
    request.validationCode = policy::parseInteger(code);

    auto [response, error] = co_await flows::attempt(repository->verifyValidationCode(std::move(request)));
    if (guard.flowGone())
        co_return;
    if (error) {
        logError(localizedDescription(error));
        handleNetworkError(error);
        co_return;
    }
    if (flows::isSuccess(response.errorCode, response.resultCode))
        RequestSigner::nameAcceptedKey(appViewModel, *user, outcome);
    appViewModel.isLoading = false;
    handleLoginResponse(response);
}

void HomeViewModel::handleLoginResponse(const VerifyDidResponse& response) {
    if (response.source == webAuthenticationSource) {
        resetValues();
        appViewModel.minimiseWindow();
        return;
    }
    if (flows::isSuccess(response.errorCode, response.resultCode)) {
        showSuccess(response.message);
        return;
    }
    logError(flows::responseLogLine(jsonString(response)));
    if (!response.resultCode)
        errorMessage = flows::unknownErrorMessage;
    else if (response.errorMessage)
        errorMessage = *response.errorMessage;
    else
        errorMessage = flows::resultCodeMessage(*response.resultCode);
    logError(errorMessage.get());
    show2Fa = false;
}

void HomeViewModel::handleNetworkError(std::exception_ptr error) {
    appViewModel.isLoading = false;
    if (const auto message = flows::messageForError(error))
        errorMessage = *message;
    show2Fa = false;
}

void HomeViewModel::showSuccess(const std::optional<QString>& message) {
    showSucces = true;
    errorMessage = message.value_or(QStringLiteral("You are successfully logged in"));
    logError(errorMessage.get());
    afterTwoSecondsOnApp([self = QPointer<HomeViewModel>(this), app = &appViewModel] {
        if (self) {
            self->showSucces = false;
            self->resetValues();
        }
        app->minimiseWindow();
    });
}

void HomeViewModel::startCodeTimer(qint64 seconds) {
    codeTimer.reset();
    // The lifetime comes from the server; keep it within what milliseconds can hold, or it wraps round.
    constexpr qint64 longestSeconds = std::chrono::milliseconds::max().count() / 1000;
    const std::chrono::seconds lifetime(std::clamp<qint64>(seconds, 0, longestSeconds));
    codeTimer = m_clock.scheduleOnce(lifetime, this, [this] {
        errorMessage = QStringLiteral("Validation code expired");
        logError(errorMessage.get());
        afterTwoSeconds([this] {
            show2Fa = false;
            errorMessage = QString();
        });
    });
}

QString HomeViewModel::currentUserEmail() const {
    const auto& user = appViewModel.authDetails.get();
    return user && user->email ? *user->email : QString();
}

void HomeViewModel::logError(const QString& message) {
    flows::logError(message, currentUserEmail());
}

void HomeViewModel::afterTwoSeconds(std::function<void()> follow) {
    std::erase_if(m_delayed, [](const auto& call) { return !call->isPending(); });
    m_delayed.push_back(m_clock.scheduleOnce(2s, this, std::move(follow)));
}

void HomeViewModel::afterTwoSecondsOnApp(std::function<void()> follow) {
    // Held by the app state, not by this object: the follow-up still runs when the screen goes first.
    auto* holder = new QObject(&appViewModel);
    std::shared_ptr<ScheduledCall> call =
        m_clock.scheduleOnce(2s, holder, [holder, follow = std::move(follow)] {
            follow();
            holder->deleteLater();
        });
    connect(holder, &QObject::destroyed, holder, [call] {});
}
