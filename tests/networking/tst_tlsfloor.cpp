#include "AsyncTest.h"
#include "networking/NetworkingError.h"
#include "networking/URLLoading.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <openssl/ssl.h>

#include <memory>

// The client keeps a TLS floor of its own, whatever the system's OpenSSL policy says: TLS 1.2 or later and
// OpenSSL's security level 2 (keys and Diffie-Hellman groups of 2048 bits or more, no SHA-1 signatures). It
// runs under a system policy lowered to level 0 with TLS 1.0 allowed, against local servers that offer what
// that policy lets in.
class TestTlsFloor : public QObject {
    Q_OBJECT

    QString m_folder;
    QSslCertificate m_authority;

    bool openssl(const QStringList& arguments) {
        QProcess tool;
        tool.setWorkingDirectory(m_folder);
        tool.start(QStringLiteral("openssl"), arguments);
        return tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit &&
               tool.exitCode() == 0;
    }

    // A certificate for 127.0.0.1 from the test authority.
    bool issue(const QString& name, const QString& key, const QString& digest) {
        return openssl({"req", "-newkey", key, "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
                        "-subj", "/CN=127.0.0.1"}) &&
               openssl({"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                        "-CAcreateserial", "-out", name + ".pem", "-days", "2", "-" + digest, "-extfile",
                        "leaf.ext"});
    }

    // An OpenSSL test server on a free loopback port, answering every request with a status page.
    struct Server {
        QProcess process;
        quint16 port = 0;
        ~Server() {
            process.kill();
            process.waitForFinished(5000);
        }
    };

    std::unique_ptr<Server> serve(const QStringList& arguments) {
        auto server = std::make_unique<Server>();
        server->process.setWorkingDirectory(m_folder);
        server->process.setProcessChannelMode(QProcess::MergedChannels);
        server->process.start(QStringLiteral("openssl"),
                              QStringList{"s_server", "-accept", "127.0.0.1:0", "-www"} + arguments);
        static const QRegularExpression accepting(QStringLiteral("ACCEPT .*:(\\d+)"));
        QByteArray output;
        while (server->process.waitForReadyRead(10000)) {
            output += server->process.readAll();
            const QRegularExpressionMatch match = accepting.match(QString::fromLatin1(output));
            if (match.hasMatch()) {
                server->port = quint16(match.captured(1).toUInt());
                return server;
            }
        }
        qWarning("openssl s_server did not start: %s", output.constData());
        return nullptr;
    }

private slots:
    void initTestCase() {
        // Our own policy must be what lets these servers in, or the test shows nothing.
        std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                                  &SSL_CTX_free);
        QVERIFY(context);
        QCOMPARE(SSL_CTX_get_security_level(context.get()), 0);

        m_folder = QCoreApplication::applicationDirPath() + QStringLiteral("/tls-floor");
        QDir(m_folder).removeRecursively();
        QVERIFY(QDir().mkpath(m_folder));
        QFile extensions(m_folder + QStringLiteral("/leaf.ext"));
        QVERIFY(extensions.open(QIODevice::WriteOnly));
        extensions.write("subjectAltName=IP:127.0.0.1\n");
        extensions.close();
        QVERIFY(openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                         "ca.pem", "-days", "2", "-sha256", "-subj", "/CN=TLS floor test authority"}));
        QVERIFY(issue("good", "rsa:2048", "sha256"));
        QVERIFY(issue("rsa1024", "rsa:1024", "sha256"));
        QVERIFY(issue("sha1", "rsa:2048", "sha1"));
        QVERIFY(openssl({"dhparam", "-out", "dh1024.pem", "1024"}));
        const auto authority = QSslCertificate::fromPath(m_folder + QStringLiteral("/ca.pem"));
        QCOMPARE(authority.size(), 1);
        m_authority = authority.first();
    }

    // Each refusal says why: a handshake either side refused, or a certificate that verification refused.
    void weakServersAreRefused_data() {
        QTest::addColumn<QStringList>("server");
        QTest::addColumn<int>("code"); // 0: the client talks to the server
        const QStringList good{"-cert", "good.pem", "-key", "good.key"};
        const QString anyCipher = QStringLiteral("DEFAULT:@SECLEVEL=0");
        const int handshakeRefused = URLError::secureConnectionFailed;
        QTest::newRow("TLS 1.0") << good + QStringList{"-tls1", "-cipher", anyCipher} << handshakeRefused;
        QTest::newRow("TLS 1.1") << good + QStringList{"-tls1_1", "-cipher", anyCipher} << handshakeRefused;
        QTest::newRow("1024-bit Diffie-Hellman")
            << good + QStringList{"-tls1_2", "-cipher", "DHE-RSA-AES128-GCM-SHA256:@SECLEVEL=0", "-dhparam",
                                  "dh1024.pem"}
            << handshakeRefused;
        QTest::newRow("RSA-1024 certificate") << QStringList{"-cert", "rsa1024.pem", "-key", "rsa1024.key"}
                                              << int(URLError::serverCertificateUntrusted);
        QTest::newRow("SHA-1 signed certificate") << QStringList{"-cert", "sha1.pem", "-key", "sha1.key"}
                                                  << int(URLError::serverCertificateUntrusted);
        QTest::newRow("a sound server") << good << 0;
        QTest::newRow("a sound server, TLS 1.2 with 2048-bit Diffie-Hellman")
            << good + QStringList{"-tls1_2", "-cipher", "DHE-RSA-AES128-GCM-SHA256"} << 0;
    }

    void weakServersAreRefused() {
        QFETCH(QStringList, server);
        QFETCH(int, code);
        const std::unique_ptr<Server> running = serve(server);
        QVERIFY(running);
        URLRequest request;
        request.url = QUrl(QStringLiteral("https://127.0.0.1:%1/").arg(running->port));
        request.httpMethod = QStringLiteral("GET");
        request.timeoutInterval = 30;
        SessionConfiguration configuration;
        configuration.extraTrustedRoots = {m_authority};
        std::optional<URLLoadResult> result;
        const auto failure = failureOf(
            [&]() -> QCoro::Task<> { result = co_await URLSession::data(request, configuration); }());
        if (code == 0) {
            QVERIFY(!failure);
            QCOMPARE(result->response.statusCode, std::optional(200));
            return;
        }
        const auto error = errorAs<URLError>(failure);
        QVERIFY2(error, "the client talked to the server");
        QCOMPARE(error->code(), code);
    }
};

int main(int argc, char* argv[]) {
    // Before anything reads OpenSSL's configuration; the servers started later inherit it.
    qputenv("OPENSSL_CONF", QUORVALE_LOWERED_OPENSSL_CONF);
    QCoreApplication application(argc, argv);
    TestTlsFloor test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tlsfloor.moc"
