#pragma once

#include "api/Repository.h"
#include "app/AppViewModel.h"
#include "app/PolicyLimits.h"
#include "networking/NetworkingClient.h"
#include "platform/Console.h"
#include "platform/MemoryKeyStore.h"
#include "platform/SecretServiceKeyStore.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "support/IdentityServiceDouble.h"
#include "support/ManualClock.h"
#include "support/RecordingWindowController.h"
#include "support/SignatureCheckingService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

// For initTestCase: keys go to the desktop keyring. Without a reachable one the test skips, except in CI,
// which must run the keyring tests.
#define QUORVALE_SET_UP_ON_THE_KEYRING(dir)                                                                  \
    do {                                                                                                     \
        if (!SecretServiceKeyStore::isAvailable()) {                                                         \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                                         \
                QFAIL("No Secret Service is reachable; CI must run the keyring tests against a real one.");  \
            QSKIP("No Secret Service is reachable (run through scripts/with-keyring.sh).");                  \
        }                                                                                                    \
        FlowFixture::setUpProcess(dir, std::make_shared<SecretServiceKeyStore>());                           \
    } while (false)

// One run of the client against the identity-service double on loopback: a temporary user store, a key
// store of the test's choosing, a manual clock for the flows' timers, and the service checking signatures.
class FlowFixture {
public:
    // Call once per test process, before the first store or key operation.
    static void setUpProcess(QTemporaryDir& dir, std::shared_ptr<KeyStore> keyStore) {
        QStandardPaths::setTestModeEnabled(true);
        PersistentContainer::Options options;
        options.storePath = dir.filePath(QStringLiteral("QVModel.sqlite"));
        CoreDataManager::configure(options);
        if (keyStore)
            KeyChain::setKeyStore(std::move(keyStore));
    }

    // The enrolled user the unlock, approval and removal tests work with; `pinHash` is the digest of its PIN.
    static AuthResponse enrolledUser(const QString& pinHash) {
        AuthResponse user;
        user.suid = QStringLiteral("S-1");
        user.zid = QStringLiteral("Z-1");
        user.email = QStringLiteral("alice@example.com");
        user.displayEmail = QStringLiteral("alice@example.com");
        user.orgCode = QStringLiteral("ORG1");
        user.primaryAttr = QStringLiteral("P-1");
        user.pin = pinHash;
        return user;
    }

    // Whether the keyring has done the deletions that removals left, and their records are gone: a removed
    // user's tag is no one's to take until then.
    static bool removedKeysDeleted() {
        QSqlQuery query(CoreDataManager::shared().persistentContainer().database());
        return query.exec(QStringLiteral("SELECT COUNT(*) FROM QVKeyDeletion")) && query.next() &&
               query.value(0).toInt() == 0;
    }

    FlowFixture() {
        policy::resetToDefaults();
        CoreDataManager::shared().deleteAllUsers();
        service.start();
        client = std::make_unique<NetworkingClient>(service.baseURL());
        client->parameterEncoding = ParameterEncoding::json;
        repository = std::make_unique<Repository>(*client);
        app = std::make_unique<AppViewModel>(nullptr, clock);
        app->setTestMode(true);
        app->setWindowController(&windows);
    }

    // A user enrolled earlier, with its device key registered at the service, signed in.
    void signIn(const AuthResponse& user, const QString& publicKeyPem) {
        CoreDataManager::shared().saveAuthResponse(user);
        checks.registerKey(*user.zid, publicKeyPem);
        app->authDetails = user;
        app->markSignedIn();
        app->tabs = loggedInTabs;
        app->currentTab = TabType::homeScreen;
    }

    void reply(const QString& path, const QJsonObject& body, int status = 200) {
        service.setReply(QStringLiteral("/api/v1/") + path,
                         ScriptedReply::json(status, QJsonDocument(body).toJson(QJsonDocument::Compact)));
    }

    // The requests received on one route, as JSON bodies.
    QList<QJsonObject> bodies(const QString& path) const {
        QList<QJsonObject> result;
        for (const ReceivedRequest& request : service.received())
            if (request.path == QStringLiteral("/api/v1/") + path)
                result.append(QJsonDocument::fromJson(request.body).object());
        return result;
    }

    IdentityServiceDouble service;
    SignatureCheckingService checks{service};
    std::unique_ptr<NetworkingClient> client;
    std::unique_ptr<Repository> repository;
    ManualClock clock;
    RecordingWindowController windows;
    std::unique_ptr<AppViewModel> app;
};
