#include "AsyncTest.h"
#include "IdentityServiceDouble.h"
#include "RecordingCrashReporter.h"
#include "TestCertificates.h"
#include "networking/NetworkingError.h"
#include "networking/NetworkingRequest.h"
#include "platform/CertificatePinning.h"

#include <QStandardPaths>
#include <QTest>

// TLS through a locally made authority: pinning refuses a chain without a pinned key and accepts one with it.
class TestPinning : public QObject {
    Q_OBJECT

    std::optional<TestCertificates> m_certs;

    static PinningPolicy policyFor(const QString& domain, const QList<QByteArray>& hashes,
                                   bool enforce = true) {
        QVariantList encoded;
        for (const QByteArray& h : hashes)
            encoded << QString::fromLatin1(h.toBase64());
        return PinningPolicy::fromConfiguration(
            {{"TSKPinnedDomains", QVariantMap{{domain, QVariantMap{{"TSKEnforcePinning", enforce},
                                                                   {"TSKPublicKeyHashes", encoded}}}}}});
    }

    // A GET to a fresh double with the given server certificate, trusting the test authority.
    std::exception_ptr getThroughTls(const QSslCertificate& certificate, const QSslKey& key,
                                     const QString& host, bool trustAuthority = true,
                                     int* requestsSeen = nullptr) {
        IdentityServiceDouble service;
        struct Count {
            IdentityServiceDouble& service;
            int* seen;
            ~Count() {
                if (seen)
                    *seen = int(service.received().size());
            }
        } count{service, requestsSeen};
        service.useTls(certificate, key);
        if (!service.start())
            return std::make_exception_ptr(std::runtime_error("no listen"));
        service.setReply("/ping", ScriptedReply::json(200, "{}"));
        NetworkingRequest request;
        request.baseURL = service.baseURL(host);
        request.route = "/ping";
        SessionConfiguration configuration;
        if (trustAuthority)
            configuration.extraTrustedRoots = {m_certs->authority};
        request.sessionConfiguration = configuration;
        return failureOf(request.execute());
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        NetworkingLogger::setOutput([](const QString&) {});
        RecordingCrashReporter::install();
        QString error;
        m_certs = TestCertificates::generate(&error);
        QVERIFY2(m_certs, qPrintable(error));
    }

    void cleanup() { PinningPolicy::setShared(PinningPolicy()); }

    void pinnedKeys_data() {
        QTest::addColumn<int>(
            "pin"); // 0 none, 1 the server's key, 2 another key, 3 the authority's key, 4 report only
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<int>("code"); // 0: success
        QTest::newRow("not pinned") << 0 << true << 0;
        QTest::newRow("server key pinned") << 1 << true << 0;
        QTest::newRow("wrong key pinned") << 2 << true << int(URLError::serverCertificateUntrusted);
        QTest::newRow("authority key in the chain") << 3 << true << 0;
        QTest::newRow("wrong key, pins not enforced") << 4 << true << 0;
        QTest::newRow("pinned key on an untrusted chain")
            << 1 << false << int(URLError::serverCertificateHasUnknownRoot);
    }

    void pinnedKeys() {
        QFETCH(int, pin);
        QFETCH(bool, trusted);
        QFETCH(int, code);
        const QByteArray serverHash = PinningPolicy::spkiSha256(m_certs->server);
        const QByteArray otherHash = PinningPolicy::spkiSha256(m_certs->otherServer);
        QCOMPARE(serverHash.size(), 32);
        QVERIFY(serverHash != otherHash);
        switch (pin) {
        case 1:
            PinningPolicy::setShared(policyFor("localhost", {serverHash}));
            break;
        case 2:
            PinningPolicy::setShared(policyFor("localhost", {otherHash}));
            break;
        case 3:
            PinningPolicy::setShared(policyFor("localhost", {PinningPolicy::spkiSha256(m_certs->authority)}));
            break;
        case 4:
            PinningPolicy::setShared(policyFor("localhost", {otherHash}, false));
            break;
        default:
            break;
        }
        const std::exception_ptr failure =
            getThroughTls(m_certs->server, m_certs->serverKey, "localhost", trusted);
        if (code == 0) {
            QVERIFY(!failure);
        } else {
            const auto error = errorAs<URLError>(failure);
            QVERIFY(error);
            QCOMPARE(error->code(), code);
        }
    }

    void serverWithAnotherKeyIsRefused() {
        PinningPolicy::setShared(policyFor("localhost", {PinningPolicy::spkiSha256(m_certs->server)}));
        int seen = -1;
        const auto error = errorAs<URLError>(
            getThroughTls(m_certs->otherServer, m_certs->otherServerKey, "localhost", true, &seen));
        QVERIFY(error);
        QCOMPARE(error->code(), int(URLError::serverCertificateUntrusted));
        // Refused during the handshake: the request itself never reached the server.
        QCOMPARE(seen, 0);
    }

    // A kept-alive connection does not shake hands again; the pins must still be checked for every reply.
    void keptAliveConnectionIsCheckedAgain() {
        IdentityServiceDouble service;
        service.useTls(m_certs->server, m_certs->serverKey);
        QVERIFY(service.start());
        service.setReply("/ping", ScriptedReply::json(200, "{}"));
        SessionConfiguration configuration;
        configuration.extraTrustedRoots = {m_certs->authority};
        auto run = [&] {
            NetworkingRequest request;
            request.baseURL = service.baseURL("localhost");
            request.route = "/ping";
            request.sessionConfiguration = configuration;
            return failureOf(request.execute());
        };
        PinningPolicy::setShared(policyFor("localhost", {PinningPolicy::spkiSha256(m_certs->server)}));
        QVERIFY(!run());
        PinningPolicy::setShared(policyFor("localhost", {PinningPolicy::spkiSha256(m_certs->otherServer)}));
        const auto error = errorAs<URLError>(run());
        QVERIFY(error);
        QCOMPARE(error->code(), int(URLError::serverCertificateUntrusted));
    }

    // Extra authorities belong to the requests that carry them: one without them, to the same server right
    // after one with them (a connection that may still be open), must not trust the server.
    void extraRootsStayWithTheirRequest_data() {
        QTest::addColumn<bool>("post");
        QTest::newRow("GET") << false;
        QTest::newRow("POST") << true;
    }

    void extraRootsStayWithTheirRequest() {
        QFETCH(bool, post);
        IdentityServiceDouble service;
        service.useTls(m_certs->server, m_certs->serverKey);
        QVERIFY(service.start());
        service.setReply("/ping", ScriptedReply::json(200, "{}"));
        auto run = [&](bool trusting) {
            NetworkingRequest request;
            request.baseURL = service.baseURL("localhost");
            request.route = "/ping";
            request.httpMethod = post ? HTTPMethod::post : HTTPMethod::get;
            SessionConfiguration configuration;
            if (trusting)
                configuration.extraTrustedRoots = {m_certs->authority};
            request.sessionConfiguration = configuration;
            return failureOf(request.execute());
        };
        QVERIFY(!run(true));
        const auto error = errorAs<URLError>(run(false));
        QVERIFY(error);
        QCOMPARE(error->code(), int(URLError::serverCertificateHasUnknownRoot));
        QVERIFY(!run(true));
        QCOMPARE(service.received().size(), 2);
    }

    // Anyone can send the public certificate of a pinned authority along with their own chain; only keys in
    // the chain that verification built up to a trusted authority count.
    void onlyTheVerifiedChainCarriesPins_data() {
        QTest::addColumn<QString>("pinned"); // whose key is pinned
        QTest::addColumn<int>("code");       // 0: success
        QTest::newRow("an authority merely sent along")
            << "unrelated authority" << int(URLError::serverCertificateUntrusted);
        QTest::newRow("the authority that signed the server") << "authority" << 0;
        QTest::newRow("the server's own key") << "server" << 0;
    }

    void onlyTheVerifiedChainCarriesPins() {
        QFETCH(QString, pinned);
        QFETCH(int, code);
        const QSslCertificate& certificate = pinned == "server"      ? m_certs->server
                                             : pinned == "authority" ? m_certs->authority
                                                                     : m_certs->unrelatedAuthority;
        PinningPolicy::setShared(policyFor("localhost", {PinningPolicy::spkiSha256(certificate)}));
        IdentityServiceDouble service;
        service.useTls({m_certs->server, m_certs->authority, m_certs->unrelatedAuthority},
                       m_certs->serverKey);
        QVERIFY(service.start());
        service.setReply("/ping", ScriptedReply::json(200, "{}"));
        NetworkingRequest request;
        request.baseURL = service.baseURL("localhost");
        request.route = "/ping";
        SessionConfiguration configuration;
        configuration.extraTrustedRoots = {m_certs->authority};
        request.sessionConfiguration = configuration;
        const std::exception_ptr failure = failureOf(request.execute());
        if (code == 0) {
            QVERIFY(!failure);
        } else {
            const auto error = errorAs<URLError>(failure);
            QVERIFY(error);
            QCOMPARE(error->code(), code);
            QCOMPARE(service.received().size(), 0);
        }
    }

    void domainsMatch_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("includeSubdomains");
        QTest::addColumn<bool>("pinned");
        QTest::newRow("exact") << "api.example" << false << true;
        QTest::newRow("letter case") << "API.Example" << false << true;
        QTest::newRow("subdomain not included") << "a.api.example" << false << false;
        QTest::newRow("subdomain included") << "a.api.example" << true << true;
        QTest::newRow("suffix that is no subdomain") << "xapi.example" << true << false;
    }

    void domainsMatch() {
        QFETCH(QString, host);
        QFETCH(bool, includeSubdomains);
        QFETCH(bool, pinned);
        const PinningPolicy policy = PinningPolicy::fromConfiguration(
            {{"TSKPinnedDomains",
              QVariantMap{
                  {"api.example", QVariantMap{{"TSKIncludeSubdomains", includeSubdomains},
                                              {"TSKPublicKeyHashes",
                                               QVariantList{QString(QByteArray(32, 'a').toBase64())}}}}}}});
        QCOMPARE(policy.domainFor(host).has_value(), pinned);
        QCOMPARE(policy.evaluate(host, {}) == PinningPolicy::Verdict::rejected, pinned);
    }
};

QTEST_GUILESS_MAIN(TestPinning)
#include "tst_pinning.moc"
