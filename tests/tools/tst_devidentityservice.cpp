// The development identity service with the client's real flows over HTTPS: enrolment with the printed
// activation code, an approval of a web sign-in started on its page, and a restart that still knows the
// device. Its page is driven with curl, as a person without a scripting browser would.
#include "AsyncTest.h"
#include "DevIdentityService.h"
#include "ManualClock.h"
#include "RecordingWindowController.h"
#include "TestCertificates.h"
#include "api/DevelopmentTrust.h"
#include "api/Repository.h"
#include "api/ResultCode.h"
#include "app/AppViewModel.h"
#include "flows/CreateAccountViewModel.h"
#include "flows/HomeViewModel.h"
#include "networking/NetworkingClient.h"
#include "platform/Console.h"
#include "platform/MemoryKeyStore.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"

#include <QCoroTask>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString pin = QStringLiteral("135792");

} // namespace

class TestDevIdentityService : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::optional<TestCertificates> m_certificates;

    // curl trusting the service's authority; answers what it printed, nothing when it failed (an HTTP error
    // status included, unless `acceptErrors`). The service answers on this thread, so the wait keeps the
    // event loop turning.
    std::optional<QByteArray> curl(const QString& url, const QStringList& arguments,
                                   bool acceptErrors = false) {
        QStringList options{"-sS", "--max-time", "10", "--cacert", m_dir.filePath(QStringLiteral("ca.pem"))};
        if (!acceptErrors)
            options.append(QStringLiteral("--fail"));
        QProcess process;
        process.start(QStringLiteral("curl"), options + arguments + QStringList{url});
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000) ||
            process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            qWarning("curl %s: %s", qPrintable(url), process.readAllStandardError().constData());
            return std::nullopt;
        }
        return process.readAllStandardOutput();
    }

    // A client of a development build pointed at the service, trusting the service's authority.
    struct Client {
        explicit Client(const QString& base) : network(base), repository(network), app(&repository, clock) {
            network.parameterEncoding = ParameterEncoding::json;
            network.sessionConfiguration = DevelopmentTrust::shared().sessionConfiguration(QUrl(base));
            app.setTestMode(true);
            app.setWindowController(&windows);
        }
        ManualClock clock;
        RecordingWindowController windows;
        NetworkingClient network;
        Repository repository;
        AppViewModel app;
    };

    // Enrols the seeded user with the printed code and unlocks it, as the registration and unlock screens do.
    static void enrolAndUnlock(DevIdentityService& service, Client& client) {
        CreateAccountViewModel enrolment(&client.repository, client.app, client.clock);
        enrolment.email = service.seed().email;
        await(enrolment.validateUser(service.seed().activationCode, service.seed().email));
        QVERIFY(enrolment.isUserValidated.get());
        await(enrolment.createAccount(pin));
        QVERIFY2(enrolment.errorMessage.get().startsWith(QStringLiteral("Registration complete")),
                 qPrintable(enrolment.errorMessage.get()));
        const auto users = client.app.userDetailsList.get();
        QVERIFY(users && users->size() == 1);
        client.app.authDetails = users->front();
        HomeViewModel(&client.repository, client.app, client.clock).verifyPin(service.seed().email, pin);
        QVERIFY(client.app.isSignedIn());
    }

    // A development build's view of the service at `base`: its API host, trusting the service's authority.
    void pointClientsAt(const QString& base) {
        BuildConfiguration::setShared(std::make_unique<BuildConfiguration>(
            QVariantMap{{"Configuration", "Debug(Development)"}}, BundleInfo::ApiHosts{base, base, base, base, base},
            base.mid(QStringLiteral("https://").size())));
        DevelopmentTrust::setShared(
            std::make_unique<DevelopmentTrust>(BuildConfiguration::shared(), QList{m_certificates->authority}));
    }

    std::unique_ptr<DevIdentityService> startService() {
        auto service = std::make_unique<DevIdentityService>(DevIdentityService::Seed{},
                                                            m_dir.filePath(QStringLiteral("state.json")));
        if (!service->start(0, m_certificates->server, m_certificates->serverKey))
            return nullptr;
        pointClientsAt(service->baseURL());
        return service;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QStandardPaths::setTestModeEnabled(true);
        PersistentContainer::Options store;
        store.storePath = m_dir.filePath(QStringLiteral("QVModel.sqlite"));
        CoreDataManager::configure(store);
        KeyChain::setKeyStore(std::make_shared<MemoryKeyStore>());
        console::setSink([](const QString&) {});
        NetworkingLogger::setOutput([](const QString&) {});
        QString error;
        m_certificates = TestCertificates::generate(&error);
        QVERIFY2(m_certificates, qPrintable(error));
        const QList<std::pair<QString, QByteArray>> files{{"ca.pem", m_certificates->authority.toPem()},
                                                          {"server.pem", m_certificates->server.toPem()},
                                                          {"server.key", m_certificates->serverKey.toPem()}};
        for (const auto& [name, pem] : files) {
            QFile file(m_dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(pem);
        }
    }

    void init() {
        QFile::remove(m_dir.filePath(QStringLiteral("state.json")));
        CoreDataManager::shared().deleteAllUsers();
    }

    void enrolmentChecksTheSeed_data() {
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("rightCode");
        QTest::addColumn<bool>("validated");
        QTest::newRow("seeded user, printed code") << "new.user@example.com" << true << true;
        QTest::newRow("typed in capitals") << "New.User@Example.com" << true << true;
        QTest::newRow("wrong code") << "new.user@example.com" << false << false;
        QTest::newRow("unknown e-mail") << "someone@example.com" << true << false;
    }

    void enrolmentChecksTheSeed() {
        QFETCH(QString, email);
        QFETCH(bool, rightCode);
        QFETCH(bool, validated);
        const auto service = startService();
        QVERIFY(service);
        Client client(service->baseURL());
        CreateAccountViewModel enrolment(&client.repository, client.app, client.clock);
        enrolment.email = email;
        const QString code = rightCode ? service->seed().activationCode : QStringLiteral("000000");
        QVERIFY(code != QStringLiteral("000000") || !rightCode);
        await(enrolment.validateUser(code, email));
        QCOMPARE(enrolment.isUserValidated.get(), validated);
        QCOMPARE(enrolment.errorMessage.get().isEmpty(), validated);
    }

    void theStartPageIsAFormWithoutScript() {
        const auto service = startService();
        QVERIFY(service);
        const std::optional<QByteArray> start = curl(service->baseURL() + QStringLiteral("/dev/"), {});
        QVERIFY(start);
        QVERIFY(start->contains(R"(<form method="post" action="/dev/sign-in">)"));
        QVERIFY(start->contains("Start a web sign-in"));
        QVERIFY(!start->contains("<script"));
    }

    void aSignInStartedWithoutScriptShowsItsCodeAndLink_data() {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("withSecondCode");
        QTest::newRow("the form, as curl -d sends it") << "/dev/sign-in" << QStringList{"-d", ""} << false;
        QTest::newRow("the second form") << "/dev/sign-in?secondCode=1" << QStringList{"-d", ""} << true;
        QTest::newRow("a browser's post") << "/dev/sign-in"
                                          << QStringList{"-X", "POST", "-H", "Accept: text/html,*/*;q=0.8"}
                                          << false;
    }

    void aSignInStartedWithoutScriptShowsItsCodeAndLink() {
        QFETCH(QString, route);
        QFETCH(QStringList, arguments);
        QFETCH(bool, withSecondCode);
        const auto service = startService();
        QVERIFY(service);
        const std::optional<QByteArray> answer = curl(service->baseURL() + route, arguments);
        QVERIFY(answer);
        const QRegularExpressionMatch code =
            QRegularExpression(QStringLiteral(R"(<code id="code">([A-Z0-9]{6})</code>)")).match(*answer);
        QVERIFY2(code.hasMatch(), answer->constData());
        const QString link = QStringLiteral("quorvaleid://sign-in?id=") + code.captured(1);
        QVERIFY(answer->contains(("href=\"" + link + "\">").toUtf8()));
        // The code is a sign-in the service waits for, not just text.
        const std::optional<QByteArray> status = curl(service->baseURL() + "/dev/sign-in/" + code.captured(1), {});
        QCOMPARE(status, std::optional<QByteArray>(R"({"status":"pending"})"));
        QCOMPARE(answer->contains(R"(<code id="secondCode">)"), withSecondCode);
        if (withSecondCode)
            QVERIFY(answer->contains(
                (R"(<code id="secondCode">)" + service->secondCode(code.captured(1)) + "</code>").toUtf8()));
        QVERIFY(answer->contains(("url=/dev/sign-in/" + code.captured(1)).toUtf8()));
    }

    // Scripts and the end-to-end run read the answer of a bare POST as JSON.
    void aScriptedPostStillAnswersJson() {
        const auto service = startService();
        QVERIFY(service);
        const std::optional<QByteArray> answer =
            curl(service->baseURL() + QStringLiteral("/dev/sign-in"), {"-X", "POST"});
        QVERIFY(answer);
        const QJsonObject reply = QJsonDocument::fromJson(*answer).object();
        QCOMPARE(reply.value("link").toString(), "quorvaleid://sign-in?id=" + reply.value("code").toString());
        QCOMPARE(reply.value("code").toString().size(), 6);
    }

    // The policy and outage routes reach every client on this machine, and a page of any site can post a form
    // to them; only the service's own page (under either name of this machine) and scripts change state.
    void aPageOfAnotherSiteChangesNothing_data() {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("header"); // PORT: the service's port
        QTest::addColumn<bool>("served");
        const QString policy =
            QStringLiteral("/dev/policy?desktopUserInActivityThreshold=0&maxLoginAttempts=1000");
        QTest::newRow("policy, from another site") << policy << "Origin: https://evil.example" << false;
        QTest::newRow("outage, from another site") << "/dev/outage?on=1"
                                                   << "Origin: https://evil.example" << false;
        QTest::newRow("policy, another site's page without an Origin")
            << policy << "Referer: https://evil.example/dev/" << false;
        QTest::newRow("outage, from another port of this machine") << "/dev/outage?on=1"
                                                                   << "Origin: https://127.0.0.1:1" << false;
        QTest::newRow("outage, from this machine over plain HTTP")
            << "/dev/outage?on=1"
            << "Origin: http://127.0.0.1:PORT" << false;
        QTest::newRow("sign-in, the own page's form") << "/dev/sign-in"
                                                      << "Origin: https://127.0.0.1:PORT" << true;
        QTest::newRow("sign-in, the own page opened as localhost")
            << "/dev/sign-in"
            << "Referer: https://localhost:PORT/dev/" << true;
    }

    void aPageOfAnotherSiteChangesNothing() {
        QFETCH(QString, route);
        QFETCH(QString, header);
        QFETCH(bool, served);
        const auto service = startService();
        QVERIFY(service);
        const QString version =
            service->baseURL() + "/api/v1/desktop/initialize?requestType=version&os=macOS";
        const QStringList asClient{"-X", "POST", "-H", "Content-Type: application/json", "-d", "{}"};
        const std::optional<QByteArray> policyBefore = curl(version, asClient);
        QVERIFY(policyBefore);

        // As a browser posts a form: the page's content type, no script needed.
        const std::optional<QByteArray> answer =
            curl(service->baseURL() + route,
                 {"-d", "", "-w", "\n%{http_code}", "-H",
                  header.replace("PORT", QString::number(service->port()))},
                 true);
        QVERIFY(answer);
        QCOMPARE(answer->endsWith("\n200"), served);
        QCOMPARE(answer->endsWith("\n403"), !served);
        QCOMPARE(answer->contains(R"(<code id="code">)"), served);
        QCOMPARE(curl(version, asClient), policyBefore);
    }

    // The run guide is followed at a person's pace: reading it, opening a browser and starting a sign-in must
    // not find the window locked.
    void theDefaultPolicyLeavesTimeToFollowTheGuide() {
        const auto service = startService();
        QVERIFY(service);
        Client client(service->baseURL());
        const VersionInfoResponse reply = await(client.repository.fetchVersionInfo());
        QVERIFY(reply.desktopConfig && reply.desktopConfig->desktopIdleSession);
        QVERIFY2(reply.desktopConfig->desktopIdleSession->toInt() >= 15,
                 qPrintable(*reply.desktopConfig->desktopIdleSession));
    }

    // A person without a mouse cannot click the Login tab that fetches a changed policy, so run.sh hands the
    // service an idle time at its start, and the window takes it when it starts. A value the client would
    // read as "lock at once" or not read at all stops the service instead.
    void theIdleTimeChosenAtStartIsServed_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("idleMinutes"); // empty: the service does not start
        QTest::newRow("none chosen: the development default") << QStringList{} << "15";
        QTest::newRow("one minute") << QStringList{"--idle-minutes", "1"} << "1";
        QTest::newRow("two hours") << QStringList{"--idle-minutes", "120"} << "120";
        QTest::newRow("zero") << QStringList{"--idle-minutes", "0"} << "";
        QTest::newRow("negative") << QStringList{"--idle-minutes", "-5"} << "";
        QTest::newRow("a fraction") << QStringList{"--idle-minutes", "1.5"} << "";
        QTest::newRow("a word") << QStringList{"--idle-minutes", "soon"} << "";
    }

    void theIdleTimeChosenAtStartIsServed() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, idleMinutes);
        QProcess program;
        program.start(QStringLiteral(QUORVALE_DEV_IDENTITY_SERVICE),
                      QStringList{"--port", "0", "--certificate",
                                  m_dir.filePath(QStringLiteral("server.pem")), "--key",
                                  m_dir.filePath(QStringLiteral("server.key"))} +
                          arguments);
        const auto stop = qScopeGuard([&] {
            program.terminate();
            program.waitForFinished(10000);
        });
        QVERIFY(QTest::qWaitFor(
            [&] { return program.canReadLine() || program.state() == QProcess::NotRunning; }, 15000));
        if (idleMinutes.isEmpty()) {
            QVERIFY(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 10000));
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 1);
            QVERIFY(program.readAllStandardError().contains("--idle-minutes"));
            return;
        }
        const QString first = QString::fromUtf8(program.readLine()).trimmed();
        QVERIFY2(first.startsWith(QStringLiteral("listening https://")),
                 qPrintable(first + program.readAllStandardError()));
        const QString base = first.mid(QStringLiteral("listening ").size());
        pointClientsAt(base);
        Client client(base);
        const auto servedIdleTime = [&] {
            const VersionInfoResponse reply = await(client.repository.fetchVersionInfo());
            return reply.desktopConfig ? reply.desktopConfig->desktopIdleSession : std::nullopt;
        };
        QCOMPARE(servedIdleTime(), std::optional(idleMinutes));
        // The page's policy route still changes it while the service runs.
        QVERIFY(curl(base + QStringLiteral("/dev/policy?desktopIdleSession=7"), {"-X", "POST"}));
        QCOMPARE(servedIdleTime(), std::optional(QStringLiteral("7")));
    }

    // An activation code enrols one device; another enrolment needs a new code, for the seeded e-mail or
    // for a new user of the organisation.
    void anActivationCodeEnrolsOneDevice_data() {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("codeFor"); // "used": the printed code again
        QTest::addColumn<bool>("enrols");
        QTest::newRow("the printed code again") << "new.user@example.com"
                                                << "used" << false;
        QTest::newRow("a new code") << "new.user@example.com"
                                    << "new.user@example.com" << true;
        QTest::newRow("a new user's code") << "Second.User@example.com"
                                           << "second.user@example.com" << true;
        QTest::newRow("another user's code") << "new.user@example.com"
                                             << "second.user@example.com" << false;
    }

    void anActivationCodeEnrolsOneDevice() {
        QFETCH(QString, email);
        QFETCH(QString, codeFor);
        QFETCH(bool, enrols);
        const auto service = startService();
        QVERIFY(service);
        Client client(service->baseURL());
        enrolAndUnlock(*service, client);
        if (QTest::currentTestFailed())
            return;
        const QString code =
            codeFor == "used" ? service->seed().activationCode : service->issueActivationCode(codeFor);

        CreateAccountViewModel enrolment(&client.repository, client.app, client.clock);
        enrolment.email = email;
        await(enrolment.validateUser(code, email));
        QCOMPARE(enrolment.isUserValidated.get() || enrolment.showUserExistWarning.get(), enrols);
        if (!enrols) {
            QCOMPARE(enrolment.errorMessage.get(), ResultCode(ResultCode::activationCodeNotFound).message());
            return;
        }
        enrolment.deleteExistingUser();
        await(enrolment.createAccount(QStringLiteral("975310")));
        QVERIFY2(enrolment.isRegistered(), qPrintable(enrolment.errorMessage.get()));
        QVERIFY(client.app.userDetailsList.get()->back().email == email.toLower());
        // Used up by that registration.
        CreateAccountViewModel again(&client.repository, client.app, client.clock);
        await(again.validateUser(code, email));
        QVERIFY(!again.isUserValidated.get());
    }

    void aWebSignInStartedOnThePageIsApproved() {
        auto service = startService();
        QVERIFY(service);
        const quint16 port = service->port();
        {
            Client client(service->baseURL());
            enrolAndUnlock(*service, client);
            if (QTest::currentTestFailed())
                return;
            HomeViewModel home(&client.repository, client.app, client.clock);

            // A code nobody started is refused.
            await(home.verifyDid(QStringLiteral("ZZZZZZ")));
            QCOMPARE(home.errorMessage.get(), QStringLiteral("Invalid Code"));

            const QString code = service->startWebSignIn();
            QVERIFY(!service->isApproved(code));
            // As the home screen does with a link's "id".
            const QString pageURL = service->baseURL() + QStringLiteral("/dev/sign-in/") + code;
            const QStringList asBrowser{"-H", "Accept: text/html"};
            QVERIFY(curl(pageURL, asBrowser).value_or("").contains("Waiting for the approval"));
            await(home.verifyDid(code.toLower()));
            QTRY_VERIFY(service->isApproved(code));
            QTRY_VERIFY(home.showSucces.get()); // the reply can arrive after the service approved
            // The page that looked again by itself now says so, and stops looking.
            const QByteArray approvedPage = curl(pageURL, asBrowser).value_or("");
            QVERIFY(approvedPage.contains("Signed in: the device approved it."));
            QVERIFY(!approvedPage.contains("http-equiv=\"refresh\""));
        }

        // A restarted service still knows the device, so the client keeps its user.
        service.reset();
        service = std::make_unique<DevIdentityService>(DevIdentityService::Seed{},
                                                       m_dir.filePath(QStringLiteral("state.json")));
        QVERIFY(service->start(port, m_certificates->server, m_certificates->serverKey));
        Client again(service->baseURL());
        QCOMPARE(again.app.userDetailsList.get()->size(), 1u);
        const NonExistingUsersResponse reply = await(again.repository.checkNonExistingUsers(
            {CurrentUser{*again.app.userDetailsList.get()->front().primaryAttr, QStringLiteral("QVDEV"),
                         *again.app.userDetailsList.get()->front().suid,
                         *again.app.userDetailsList.get()->front().zid},
             CurrentUser{QStringLiteral("P-GONE"), QStringLiteral("QVDEV"), QStringLiteral("S-GONE"),
                         QStringLiteral("Z-GONE")}}));
        QVERIFY(reply.nonExistingUsers && reply.nonExistingUsers->userToDelete);
        QCOMPARE(reply.nonExistingUsers->userToDelete->size(), 1u);
        QCOMPARE(reply.nonExistingUsers->userToDelete->front().zid, std::optional(QStringLiteral("Z-GONE")));
    }

    void aSignInWithASecondCodeWaitsForItsDigits_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("rightDigits");
        QTest::newRow("the digits the page showed") << "" << true;
        QTest::newRow("other digits") << "other" << false;
        // Signed as typed, though the body carries only the number: a wrong code, not a broken key.
        QTest::newRow("a wrong code with a leading zero") << "00" << false;
    }

    // The record lists each request with its signature check, so a test driving the real window can see
    // what arrived.
    void aSignInWithASecondCodeWaitsForItsDigits() {
        QFETCH(QString, typed);
        QFETCH(bool, rightDigits);
        const auto service = startService();
        QVERIFY(service);
        Client client(service->baseURL());
        enrolAndUnlock(*service, client);
        if (QTest::currentTestFailed())
            return;
        HomeViewModel home(&client.repository, client.app, client.clock);

        const QString code = service->startWebSignIn(true);
        const QString digits = service->secondCode(code);
        QCOMPARE(digits.size(), 2);
        await(home.verifyDid(code));
        QVERIFY(home.show2Fa.get());
        QVERIFY(!service->isApproved(code));

        const QString otherDigits = digits == QStringLiteral("10") ? QStringLiteral("11") : QStringLiteral("10");
        home.verifyCode(typed.isEmpty() ? digits : typed == QStringLiteral("other") ? otherDigits : typed);
        QTRY_COMPARE(client.app.isLoading.get(), false);
        QTRY_COMPARE(service->isApproved(code), rightDigits);

        // The lines as a shell script greps them.
        const QByteArrayList lines = service->receivedRecord().split('\n');
        const auto received = [&](const char* route, int resultCode, const char* check) {
            const QByteArray line = "{\"resultCode\":" + QByteArray::number(resultCode) + ",\"route\":\"" + route +
                                    "\"," + check + "}";
            return lines.contains(line) || lines.contains(line + ',');
        };
        const char* const verified = "\"signed\":true,\"verified\":true";
        QVERIFY(received("desktop/user/register", 0, "\"signed\":false,\"verified\":false"));
        QVERIFY(received("verify/did", 0, verified));
        QVERIFY(received("verify/validationCode", rightDigits ? 0 : 22, verified));
        QVERIFY(lines.first().startsWith("{\"devices\":[\""));
    }
};

QTEST_GUILESS_MAIN(TestDevIdentityService)
#include "tst_devidentityservice.moc"
