#pragma once

#include "Clock.h"
#include "Field.h"
#include "LaunchConfigurationState.h"
#include "TabModel.h"

#include "api/AuthResponse.h"
#include "api/DesktopConfig.h"
#include "api/NonExistingUsersResponse.h"
#include "api/VersionInfo.h"
#include "api/VersionInfoResponse.h"
#include "platform/Published.h"

#include <QObject>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

namespace QCoro {
template <typename T> class Task;
}

class VerifyCodeHomeAPIRepository;
class WindowController;

// The app-wide state: the signed-in user, the enrolled users, the tab set, the launch and update state,
// the policy last received, the idle and background timers, the focus request and the last universal link.
// One instance lives for the whole run on the main thread; every screen and flow works on it.
//
// Each published field announces a write in this order: objectWillChange(), delivery of the new value to
// its subscribers, store. Writes that the flows should see only after they return to the event loop
// (focus, logout) are queued on it.
class AppViewModel : public QObject, public rx::ObservableObject {
    Q_OBJECT

public:
    // `repository` may be absent; then the version request and the users-not-exist check do nothing.
    // It is not owned and must outlive this object.
    explicit AppViewModel(VerifyCodeHomeAPIRepository* repository, QObject* parent = nullptr);
    AppViewModel(VerifyCodeHomeAPIRepository* repository, Clock& clock, QObject* parent = nullptr);
    ~AppViewModel() override;

    AppViewModel(const AppViewModel&) = delete;
    AppViewModel& operator=(const AppViewModel&) = delete;

    bool isScreenRecording = false;
    bool isUpdatePresented = false;
    // The loading overlay of the window.
    rx::Published<bool> isLoading{*this, false};
    // Told of an empty user when every user is wiped.
    rx::CurrentValueSubject<AuthResponse> authenticationRelay{AuthResponse{}};
    // The user chosen on the unlock screen or just enrolled. Every change that carries a `suid` is
    // written to the store and merged into userDetailsList. Change it in place with authDetails.modify().
    rx::Published<std::optional<AuthResponse>> authDetails{*this};
    // The users enrolled on this device, at most one per `zid`, in store order.
    rx::Published<std::optional<std::vector<AuthResponse>>> userDetailsList{*this};
    // The tab whose screen the window shows.
    rx::Published<TabType> currentTab{*this, TabType::login};
    rx::Published<std::vector<TabModel>> tabs{*this, loggedOutTabs};
    // True from minimiseWindow() to the next restoreWindow().
    rx::Published<bool> windowMinimized{*this, false};
    rx::Published<bool> isIdle{*this, false};
    // True for the two seconds after a logout.
    rx::Published<bool> isLogout{*this, false};
    // Set after each reload that follows a users-not-exist reply; whoever reacts sets it back.
    rx::Published<bool> isRemoveUser{*this, false};
    double idleThreshold = 120.0;
    rx::Published<std::optional<VersionInfo>> versionInfo{*this};
    // The desktop policy last received; its limits live in policy::.
    rx::Published<std::optional<DesktopConfig>> configInfo{*this};
    rx::Published<std::optional<LaunchConfigurationState>> appConfigState{*this,
                                                                          LaunchConfigurationState::loading};
    // The control the screens are asked to focus; absent means none. Written through setFocusedField().
    rx::Published<std::optional<Field>> focusedFieldPublisher{*this};
    // The last universal link.
    rx::Published<std::optional<QUrl>> deepLink{*this};
    // Sent when a read of the stored users failed during the run. The list stays as it was, since a store
    // that cannot be read is no store without users; the flow of the screen on show says that it failed.
    rx::PassthroughSubject<rx::Void> storeReadFailed;

    // Asks the screens to focus `field`; the assignment happens on the event loop after the caller returns.
    void setFocusedField(std::optional<Field> field);
    // Empties the user store (the device keys stay). When nobody is left the logged-out tabs come back
    // with the registration tab selected.
    void wipeAllUsers();
    // Deletes the current user's record and device key, then logs out. Without `zid`, `email`, `pin` and
    // `primaryAttr` it only logs out. A user removed before signing in (locked out for good on the unlock
    // screen) stops being the current user, and the users are reloaded so that the unlock screen chooses
    // again.
    void removeCurrentUser();
    // Ends the signed-in session: starts the users-not-exist check, shows the logged-out tabs (the unlock
    // tab, or the registration tab when no user is stored) under the loading overlay for two seconds.
    // Does nothing while nobody is signed in.
    void logout();

    // The unlock flow marks a successful PIN check; logout() clears the mark. authDetails alone does not
    // mean signed in: the unlock screen sets it before the PIN is checked. From here to the end of the
    // session the signed-in user's device key stays loaded once it has signed, and the idle logout runs.
    void markSignedIn();
    bool isSignedIn() const { return m_signedIn; }

    // Whether the store still holds `user` (by its zid); absent when the store could not be read. The unlock
    // path checks it before it writes the current user: the store's update adds a user it no longer has, so
    // a user deleted meanwhile would come back.
    std::optional<bool> isStoredUser(const AuthResponse& user) const;
    // Sets userDetailsList to the users as the store holds them now. A read that fails leaves the list as it
    // was, sends storeReadFailed and answers false.
    bool reloadStoredUsers();

    // Wipes every user when the last sign-in lies desktopUserInActivityThreshold days or more away.
    void checkInactivityDays();
    // Called on every mouse movement and key press in the application: cancels the background logout and,
    // while a user is signed in, restarts the idle logout (else stops it).
    void restartIdleTimer();
    // The list without later users of a `zid` already seen (two absent `zid`s are equal). The device keys
    // of users stored by earlier versions are settled by the start's work on the keys
    // (CoreDataManager::settleDeviceKeys).
    std::vector<AuthResponse> removeDuplicateUsers(const std::vector<AuthResponse>& users);
    // Minimises the key window (after a web sign-in approval) and starts the background logout.
    void minimiseWindow();
    void restoreWindow();
    // Asks the server which stored users it no longer knows and removes them; starts on the event loop.
    void checkUsersStillExist();
    void removeStoredUsers(const std::vector<UserToDelete>& users);
    // Requests the versions and the desktop policy; starts on the event loop.
    void fetchVersionInfo();
    void handleVersionResponse(const VersionInfoResponse& response);
    void applyDesktopConfig(const VersionInfoResponse& response);
    // Offers or forces the update in the gated environments; never goes back to loading.
    void checkAppVersion();

    // Whether the current user, as last assigned, reached the store: false when the store refused the write
    // or the record had no suid to be written with.
    bool isAuthDetailsStored() const { return m_authDetailsStored; }

    VerifyCodeHomeAPIRepository* repository() const { return m_repository; }

    // The window shell installs itself here; without it there is no window to act on.
    void setWindowController(WindowController* windowController) { m_windowController = windowController; }
    WindowController* windowController() const { return m_windowController; }
    // Under test the update check stays out of the way (like the program under its test harness).
    void setTestMode(bool on) { m_testMode = on; }
    bool testMode() const { return m_testMode; }

private:
    void handleAuthDetailsChange(const std::optional<AuthResponse>& value);
    void beginSigningSession(const std::optional<AuthResponse>& user);
    void endSigningSession();
    void handleTabChange(TabType tab);
    void reloadUsers();
    void showRegistrationWhenNobodyLeft();
    // The busy state is shared: a logout's two seconds and each users-not-exist check hold a share of it,
    // and the flows raise and clear it around their requests. It ends only when every share has ended.
    void holdBusy();
    void releaseBusy();
    void writeBusy(bool busy);
    // Runs `block` on the event loop after everything queued before it, unless this object is gone.
    void queue(std::function<void()> block);
    QCoro::Task<void> runVersionRequest();
    QCoro::Task<void> runUsersStillExistCheck();
    void keepDelayed(std::unique_ptr<ScheduledCall> call);

    VerifyCodeHomeAPIRepository* m_repository;
    Clock& m_clock;
    WindowController* m_windowController = nullptr;
    rx::AnyCancellable m_authSubscription;
    rx::AnyCancellable m_tabSubscription;
    rx::AnyCancellable m_busySubscription;
    // Shares of the busy state held by this object's own work, and whether a flow holds it.
    int m_busyShares = 0;
    bool m_flowBusy = false;
    bool m_writingBusy = false;
    std::unique_ptr<ScheduledCall> m_idleTimer;
    std::unique_ptr<ScheduledCall> m_backgroundTimer;
    std::vector<std::unique_ptr<ScheduledCall>> m_delayed;
    bool m_signedIn = false;
    // The signing session (KeyChain::sessionName) whose key may stay loaded, and whose it is.
    std::optional<QString> m_signingSession;
    std::optional<QString> m_signingZid;
    bool m_testMode = false;
    bool m_authDetailsStored = false;
};

// The current value of a Boolean published property of `object`.
template <typename Object>
bool readPublishedBool(const Object& object, rx::Published<bool> Object::*property) {
    return (object.*property).get();
}
