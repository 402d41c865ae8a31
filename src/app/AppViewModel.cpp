#include "AppViewModel.h"

#include "PolicyLimits.h"
#include "StderrRedirect.h"
#include "VersionCheck.h"
#include "WindowController.h"

#include "api/CurrentUser.h"
#include "api/Environment.h"
#include "api/Repository.h"
#include "networking/NetworkingError.h"
#include "platform/BundleInfo.h"
#include "platform/Console.h"
#include "platform/ProcessHardening.h"
#include "storage/AppLogger.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"

#include <QCoroTask>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QPointer>
#include <QStandardPaths>

#include <cmath>

namespace {

// The desktop end-user guide that the Help tab opens.
const QString userGuideAddress =
    QStringLiteral("https://www.quorvale.com/docs/quorvale-desktop-user-guide.pdf");

// Whole days from `from` to `to` in the local calendar, negative when `to` lies before `from`.
qint64 wholeDaysBetween(const QDateTime& from, const QDateTime& to) {
    const QDateTime start = from.toLocalTime();
    const QDateTime end = to.toLocalTime();
    qint64 days = start.date().daysTo(end.date());
    if (days > 0 && start.addDays(days) > end)
        --days;
    else if (days < 0 && start.addDays(days) < end)
        ++days;
    return days;
}

// The policy's idle time as a timer interval; a negative policy fires at once, a huge one never overflows.
std::chrono::milliseconds idleSessionInterval() {
    const double milliseconds = static_cast<double>(policy::desktopIdleSession) * 60.0 * 1000.0;
    constexpr double longest = 1e15; // about 31,000 years
    return std::chrono::milliseconds(static_cast<qint64>(std::clamp(milliseconds, 0.0, longest)));
}

std::optional<QString> sessionOf(const std::optional<AuthResponse>& user) {
    return user ? KeyChain::sessionName(*user) : std::nullopt;
}

template <typename T> QString debugDescription(const T& value) {
    return QString::fromUtf8(QJsonDocument(coding::encode(value).toObject()).toJson(QJsonDocument::Compact));
}

} // namespace

AppViewModel::AppViewModel(VerifyCodeHomeAPIRepository* repository, QObject* parent)
    : AppViewModel(repository, Clock::system(), parent) {}

AppViewModel::AppViewModel(VerifyCodeHomeAPIRepository* repository, Clock& clock, QObject* parent)
    : QObject(parent)
    , m_repository(repository)
    , m_clock(clock) {
    hardenProcess();
    // The first use of the shared store opens it.
    CoreDataManager& store = CoreDataManager::shared();
    // The run's store has been read once already when it opened; a list left absent here does not say that
    // nobody is enrolled.
    if (const std::optional<std::vector<AuthResponse>> users = store.readAuthResponses()) {
        userDetailsList = *users;
        userDetailsList = removeDuplicateUsers(*users);
    }

    m_authSubscription = authDetails.sink(
        [this](const std::optional<AuthResponse>& value) { handleAuthDetailsChange(value); });
    m_tabSubscription = currentTab.sink([this](TabType tab) { handleTabChange(tab); });
    m_busySubscription = isLoading.sink([this](bool busy) {
        if (m_writingBusy)
            return;
        m_flowBusy = busy;
        // A flow that ends its request while a logout or a check still holds a share must not take the
        // overlay with it: its own write lands first, then the overlay comes back.
        if (!busy && m_busyShares > 0)
            queue([this] {
                if (m_busyShares > 0 && !isLoading.get())
                    writeBusy(true);
            });
    });

    fetchVersionInfo();
    checkUsersStillExist();

    if (userDetailsList.get() && userDetailsList.get()->empty()) {
        tabs = loggedOutTabs;
        currentTab = TabType::newRegisteration;
    }

    // Under test the documents directory is the developer's own; keep the test's stderr where it is.
    if (!QStandardPaths::isTestModeEnabled())
        redirectStderrToLogFile();

    checkInactivityDays();
    AppLogger::shared().log(QStringLiteral("App started successfully"), AppLogger::LogType::info);
}

AppViewModel::~AppViewModel() {
    endSigningSession();
}

void AppViewModel::markSignedIn() {
    m_signedIn = true;
    beginSigningSession(authDetails.get());
    // A user who walks away right after unlocking, or who only ever types, is still logged out in time.
    restartIdleTimer();
}

void AppViewModel::beginSigningSession(const std::optional<AuthResponse>& user) {
    m_signingSession = sessionOf(user);
    m_signingZid = user ? user->zid : std::nullopt;
    if (m_signingSession)
        KeyChain::beginSigningSession(*user);
}

void AppViewModel::endSigningSession() {
    if (!m_signingSession)
        return;
    m_signingSession.reset();
    m_signingZid.reset();
    KeyChain::endSigningSession();
}

void AppViewModel::queue(std::function<void()> block) {
    QMetaObject::invokeMethod(this, std::move(block), Qt::QueuedConnection);
}

void AppViewModel::keepDelayed(std::unique_ptr<ScheduledCall> call) {
    std::erase_if(m_delayed, [](const auto& pending) { return !pending->isPending(); });
    m_delayed.push_back(std::move(call));
}

void AppViewModel::setFocusedField(std::optional<Field> field) {
    queue([this, field] { focusedFieldPublisher = field; });
}

void AppViewModel::wipeAllUsers() {
    CoreDataManager& store = CoreDataManager::shared();
    store.deleteAllUsers();
    // The keys stay in the keyring, but none of their users is left to sign with one.
    endSigningSession();
    authenticationRelay.send(AuthResponse{});
    reloadStoredUsers();
    showRegistrationWhenNobodyLeft();
}

void AppViewModel::showRegistrationWhenNobodyLeft() {
    const auto& users = userDetailsList.get();
    if (users && !users->empty())
        return;
    tabs = loggedOutTabs;
    currentTab = TabType::newRegisteration;
}

void AppViewModel::removeCurrentUser() {
    const std::optional<AuthResponse> current = authDetails.get();
    if (!current || !current->zid || !current->email || !current->pin || !current->primaryAttr) {
        logout();
        return;
    }
    CoreDataManager& store = CoreDataManager::shared();
    // The store deletes the key with the row; a row it failed to delete keeps its key, since that user is
    // still enrolled and signs with it.
    store.deleteAuthResponse(*current->zid);
    store.refreshDisplayEmails(*current->email);
    reloadStoredUsers();
    if (m_signedIn) {
        logout();
        return;
    }
    // A user locked out for good on the unlock screen was never signed in, so there is no logout to bring
    // a fresh unlock screen: the current one must not keep the removed user chosen, or its next PIN would
    // store that user again. The reload makes it choose anew, and shows the registration tab when nobody
    // is left.
    authDetails = std::nullopt;
    reloadUsers();
}

std::optional<bool> AppViewModel::isStoredUser(const AuthResponse& user) const {
    if (!user.zid)
        return false;
    const std::optional<std::vector<AuthResponse>> stored = CoreDataManager::shared().readAuthResponses();
    if (!stored) {
        storeReadFailed.send(rx::Void{});
        return std::nullopt;
    }
    return std::any_of(stored->begin(), stored->end(),
                       [&](const AuthResponse& row) { return row.zid == user.zid; });
}

bool AppViewModel::reloadStoredUsers() {
    std::optional<std::vector<AuthResponse>> users = CoreDataManager::shared().readAuthResponses();
    if (!users) {
        storeReadFailed.send(rx::Void{});
        return false;
    }
    userDetailsList = std::move(*users);
    return true;
}

void AppViewModel::writeBusy(bool busy) {
    m_writingBusy = true;
    isLoading = busy;
    m_writingBusy = false;
}

void AppViewModel::holdBusy() {
    ++m_busyShares;
    if (!isLoading.get())
        writeBusy(true);
}

void AppViewModel::releaseBusy() {
    m_busyShares = std::max(0, m_busyShares - 1);
    if (m_busyShares == 0 && !m_flowBusy)
        writeBusy(false);
}

void AppViewModel::logout() {
    console::debugPrint(u"log out");
    endSigningSession();
    if (!m_signedIn)
        return;
    m_signedIn = false;
    // Nothing is left for the idle logout to end. The background timer stays: after an approval it also
    // brings the minimised window back.
    m_idleTimer.reset();
    checkUsersStillExist();
    queue([this] {
        holdBusy();
        tabs = loggedOutTabs;
        const auto& users = userDetailsList.get();
        currentTab = (!users || users->empty()) ? TabType::newRegisteration : TabType::login;
        isLogout = true;
    });
    keepDelayed(m_clock.scheduleOnce(std::chrono::seconds(2), this, [this] {
        releaseBusy();
        isLogout = false;
    }));
}

void AppViewModel::handleAuthDetailsChange(const std::optional<AuthResponse>& value) {
    // Another user, or the same one under another key, is not whom the loaded key was kept for. A user
    // whose record has just come to name the key it signs with goes on in a session for that key.
    if (m_signingSession && sessionOf(value) != m_signingSession) {
        const bool keyNamed = value && value->zid && value->zid == m_signingZid && KeyChain::namedKey(*value);
        endSigningSession();
        if (keyNamed)
            beginSigningSession(value);
    }
    m_authDetailsStored = false;
    if (!value || !value->suid)
        return;
    m_authDetailsStored = CoreDataManager::shared().updateAuthResponse(*value);
    if (reloadStoredUsers())
        userDetailsList = removeDuplicateUsers(userDetailsList.get().value_or(std::vector<AuthResponse>{}));
}

void AppViewModel::handleTabChange(TabType tab) {
    switch (tab) {
    case TabType::help: {
        const QUrl guide(userGuideAddress, QUrl::StrictMode);
        if (!guide.isValid())
            return;
        queue([this] { currentTab = TabType::login; });
        // Without a window shell the desktop's own handler still opens the guide in the browser.
        if (m_windowController)
            m_windowController->openInBrowser(guide);
        else
            QDesktopServices::openUrl(guide);
        return;
    }
    case TabType::logout:
        queue([this] { logout(); });
        return;
    default:
        return;
    }
}

std::vector<AuthResponse> AppViewModel::removeDuplicateUsers(const std::vector<AuthResponse>& users) {
    std::vector<AuthResponse> unique;
    for (const AuthResponse& user : users) {
        const bool seen = std::any_of(unique.begin(), unique.end(),
                                      [&](const AuthResponse& kept) { return kept.zid == user.zid; });
        if (!seen)
            unique.push_back(user);
    }
    return unique;
}

void AppViewModel::fetchVersionInfo() {
    queue([this] { runVersionRequest(); });
}

QCoro::Task<void> AppViewModel::runVersionRequest() {
    if (!m_repository)
        co_return;
    QPointer<AppViewModel> self(this);
    std::exception_ptr failure;
    try {
        const VersionInfoResponse reply = co_await m_repository->fetchVersionInfo();
        if (!self)
            co_return;
        queue([this, reply] { handleVersionResponse(reply); });
        console::print(debugDescription(reply));
    } catch (...) {
        failure = std::current_exception();
    }
    // A request cancelled because the client is going away is no failure worth a line.
    if (failure && self && !isCancellation(failure))
        console::debugPrint(localizedDescription(failure));
}

void AppViewModel::handleVersionResponse(const VersionInfoResponse& response) {
    versionInfo = response.version;
    configInfo = response.desktopConfig;
    applyDesktopConfig(response);
    checkAppVersion();
}

void AppViewModel::applyDesktopConfig(const VersionInfoResponse& response) {
    policy::PolicyTexts texts;
    if (const auto& config = response.desktopConfig) {
        texts.maxLoginAttempts = config->maxLoginAttempts;
        texts.maxRemoveAccountLoginAttempts = config->maxRemoveAccountLoginAttempts;
        texts.desktopForceLogout = config->desktopForceLogout;
        texts.lockoutDurationMinutes = config->lockoutDurationMinutes;
        texts.desktopIdleSession = config->desktopIdleSession;
        texts.desktopUserInActivityThreshold = config->desktopUserInActivityThreshold;
    }
    policy::applyPolicyTexts(texts);
}

void AppViewModel::checkAppVersion() {
    if (m_testMode)
        return;
    const QString running =
        BundleInfo::string(QStringLiteral("CFBundleShortVersionString")).value_or(QString());
    const bool gated = versioncheck::isGatedEnvironment(rawValue(BuildConfiguration::shared().environment));
    const auto& info = versionInfo.get();
    const QString latest = info ? info->latest.value_or(QString()) : QString();
    const QString min = info ? info->min.value_or(QString()) : QString();
    if (const auto decision = versioncheck::decide(latest, min, running, gated))
        appConfigState = *decision;
}

void AppViewModel::checkInactivityDays() {
    const std::optional<QDateTime> lastLogin = CoreDataManager::shared().fetchLastLoginDate();
    if (!lastLogin)
        return;
    const qint64 days = wholeDaysBetween(*lastLogin, m_clock.now());
    if (std::abs(days) >= policy::desktopUserInActivityThreshold)
        wipeAllUsers();
}

void AppViewModel::restartIdleTimer() {
    m_idleTimer.reset();
    m_backgroundTimer.reset();
    // Activity on the unlock or registration screen has no session to keep; the unlock starts the timer.
    if (!m_signedIn)
        return;
    m_idleTimer = m_clock.scheduleOnce(idleSessionInterval(), this, [this] {
        // Logging out changes what the screens show; let whatever event is being handled finish first.
        queue([this] { logout(); });
    });
}

void AppViewModel::minimiseWindow() {
    if (!m_windowController || !m_windowController->miniaturizeKeyWindow())
        return;
    windowMinimized = true;
    console::debugPrint(u"minimise window");
    m_backgroundTimer.reset();
    m_backgroundTimer = m_clock.scheduleOnce(idleSessionInterval(), this, [this] {
        queue([this] {
            // The idle timer of the same length usually ends the session first; the window still comes back.
            logout();
            restoreWindow();
        });
        console::print(u"Timer fired!");
    });
}

void AppViewModel::restoreWindow() {
    console::debugPrint(u"restore window");
    if (m_windowController)
        m_windowController->restoreFirstWindow();
    windowMinimized = false;
}

void AppViewModel::checkUsersStillExist() {
    queue([this] { runUsersStillExistCheck(); });
}

QCoro::Task<void> AppViewModel::runUsersStillExistCheck() {
    const auto users = userDetailsList.get();
    if (!users || users->empty() || !m_repository)
        co_return;
    queue([this] { holdBusy(); });
    std::vector<CurrentUser> current;
    current.reserve(users->size());
    for (const AuthResponse& user : *users) {
        current.push_back(CurrentUser{user.primaryAttr.value_or(QString()), user.orgCode.value_or(QString()),
                                      user.suid.value_or(QString()), user.zid.value_or(QString())});
    }
    QPointer<AppViewModel> self(this);
    std::optional<NonExistingUsersResponse> reply;
    try {
        reply = co_await m_repository->checkNonExistingUsers(current);
    } catch (...) {
        // A failed or cancelled check only ends the loading state; the users stay until the next check.
    }
    if (!self)
        co_return;
    // Only this check's share ends here; a logout's two seconds or a flow's request keep the overlay.
    queue([this] { releaseBusy(); });
    if (reply && reply->nonExistingUsers && reply->nonExistingUsers->userToDelete) {
        queue([this, list = *reply->nonExistingUsers->userToDelete] { removeStoredUsers(list); });
    }
}

void AppViewModel::removeStoredUsers(const std::vector<UserToDelete>& users) {
    CoreDataManager& store = CoreDataManager::shared();
    for (const UserToDelete& entry : users) {
        if (!entry.zid)
            continue;
        // Recompute the display e-mails while the removed user is still stored.
        if (const auto& stored = userDetailsList.get()) {
            const auto match = std::find_if(stored->begin(), stored->end(), [&](const AuthResponse& user) {
                return user.zid && user.zid == entry.zid;
            });
            if (match != stored->end() && match->email)
                store.refreshDisplayEmails(*match->email);
        }
        store.deleteAuthResponse(*entry.zid);
    }
    queue([this] { reloadUsers(); });
}

void AppViewModel::reloadUsers() {
    reloadStoredUsers();
    isRemoveUser = true;
    const auto& users = userDetailsList.get();
    if (!users || users->empty()) {
        tabs = loggedOutTabs;
        currentTab = TabType::newRegisteration;
    }
    objectWillChange().send(rx::Void{});
}
