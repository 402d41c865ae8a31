#pragma once

// The window as the program builds it, over the real app state, the real client and repository against the
// identity-service double on loopback, a manual clock for the idle and logout timers, and keys in memory.

#include "api/Environment.h"
#include "api/Repository.h"
#include "app/AppViewModel.h"
#include "app/PolicyLimits.h"
#include "flows/FlowFixture.h"
#include "networking/HttpTransport.h"
#include "networking/NetworkingClient.h"
#include "platform/BundleInfo.h"
#include "platform/MemoryKeyStore.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "support/IdentityServiceDouble.h"
#include "support/ManualClock.h"
#include "support/WidgetTestSupport.h"
#include "window/CustomTabBar.h"
#include "window/MainTabView.h"
#include "window/MainWindow.h"
#include "window/TabItemView.h"

#include <QTest>

#include <memory>

namespace shelltest {

inline const QString versionRoute = QStringLiteral("/api/v1/desktop/initialize?requestType=version&os=macOS");
inline const QString usersNotExistRoute =
    QStringLiteral("/api/v1/desktop/initialize?requestType=usersNotExist");

// The PIN of the stored user, for the tests that unlock by typing it.
inline const QString storedPin = QStringLiteral("135792");

// The enrolled user of the flow tests.
inline AuthResponse storedUser() {
    return FlowFixture::enrolledUser(KeyChain::sha256Hex(storedPin));
}

// The client and repository live as long as the test program, as they live as long as the program: a
// reply that comes back after its window has gone still finds them.
struct Backend {
    IdentityServiceDouble service;
    std::unique_ptr<NetworkingClient> client;
    std::unique_ptr<Repository> repository;
};

class ShellFixture {
public:
    // Once per test program, before the first fixture.
    static bool setUpProcess(Backend& backend) {
        widgettest::makeAppViewModel(); // the throw-away store and the console capture
        KeyChain::setKeyStore(std::make_shared<MemoryKeyStore>());
        if (!backend.service.start())
            return false;
        const QString base = backend.service.baseURL();
        BuildConfiguration::setShared(std::make_unique<BuildConfiguration>(
            BundleInfo::infoDictionary(), BundleInfo::ApiHosts{base, base, base, base, base}));
        backend.client = std::make_unique<NetworkingClient>(BuildConfiguration::shared().apiBaseURL());
        backend.client->parameterEncoding = ParameterEncoding::json;
        backend.repository = std::make_unique<Repository>(*backend.client);
        return true;
    }

    ShellFixture(Backend& backend, bool withUser)
        : service(backend.service)
        , repository(*backend.repository) {
        policy::resetToDefaults();
        CoreDataManager::shared().deleteAllUsers();
        if (withUser)
            CoreDataManager::shared().saveAuthResponse(storedUser());
        service.clearReceived();
        app = std::make_unique<AppViewModel>(&repository, clock);
        app->setTestMode(true);
        window = std::make_unique<MainWindow>(*app, repository);
    }

    ~ShellFixture() {
        window.reset();
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Requests still on their way land here rather than in the next test's count: the client outlives
        // the window, so they are answered rather than cancelled.
        QVERIFY2(QTest::qWaitFor([] { return HttpTransport::shared().liveTransfers() == 0; }),
                 "a request of the test is still unanswered");
    }

    bool show() {
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }

    // The checks that start with the app state have come back and the busy state is over; the service's
    // record starts afresh.
    bool waitForStartChecks(bool withUser) {
        const bool done = QTest::qWaitFor([&] {
            return requestsTo(versionRoute) == 1 && requestsTo(usersNotExistRoute) == (withUser ? 1 : 0) &&
                   !app->isLoading.get();
        });
        widgettest::settle();
        service.clearReceived();
        return done;
    }

    MainTabView& shell() const { return window->mainTabView(); }
    CustomTabBar& bar() const { return shell().tabBar(); }
    TabItemView* tab(Field field) const { return window->findChild<TabItemView*>(fieldName(field)); }

    int requestsTo(const QString& route) const {
        int count = 0;
        for (const ReceivedRequest& request : service.received())
            count += request.route() == route ? 1 : 0;
        return count;
    }

    // The signed-in state a successful unlock leaves: the user, the logged-in tabs and the home screen.
    void signIn() {
        app->authDetails = storedUser();
        app->markSignedIn();
        app->tabs = loggedInTabs;
        app->currentTab = TabType::homeScreen;
        widgettest::settle();
    }

    IdentityServiceDouble& service;
    Repository& repository;
    ManualClock clock;
    std::unique_ptr<AppViewModel> app;
    std::unique_ptr<MainWindow> window;
};

} // namespace shelltest
