#include "TestCertificates.h"

#include <QFile>
#include <QProcess>

namespace {

bool run(const QString& dir, const QStringList& args, QString* error) {
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(QStringLiteral("openssl"), args);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("openssl %1: %2")
                         .arg(args.join(' '), QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    return true;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool makeServer(const QString& dir, const QString& name, QString* error) {
    QFile ext(dir + QStringLiteral("/%1.ext").arg(name));
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nkeyUsage="
              "digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n");
    ext.close();
    return run(dir,
               {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
                "-subj", "/CN=localhost"},
               error) &&
           run(dir,
               {"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-out", name + ".pem", "-days", "2", "-sha256", "-extfile", name + ".ext"},
               error);
}

} // namespace

std::optional<TestCertificates> TestCertificates::generate(QString* error) {
    QTemporaryDir dir;
    if (!dir.isValid())
        return std::nullopt;
    const QString d = dir.path();
    if (!run(d,
             {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days",
              "2", "-subj", "/CN=Quorvale Test Authority", "-addext", "basicConstraints=critical,CA:TRUE",
              "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
             error) ||
        !makeServer(d, QStringLiteral("server"), error) || !makeServer(d, QStringLiteral("other"), error) ||
        !run(d,
             {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "unrelated.key", "-out",
              "unrelated.pem", "-days", "2", "-subj", "/CN=Unrelated Authority", "-addext",
              "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
             error))
        return std::nullopt;
    TestCertificates certs;
    certs.authority = QSslCertificate(readFile(d + "/ca.pem"));
    certs.server = QSslCertificate(readFile(d + "/server.pem"));
    certs.serverKey = QSslKey(readFile(d + "/server.key"), QSsl::Rsa);
    certs.otherServer = QSslCertificate(readFile(d + "/other.pem"));
    certs.otherServerKey = QSslKey(readFile(d + "/other.key"), QSsl::Rsa);
    certs.unrelatedAuthority = QSslCertificate(readFile(d + "/unrelated.pem"));
    if (certs.authority.isNull() || certs.server.isNull() || certs.serverKey.isNull() ||
        certs.otherServer.isNull() || certs.unrelatedAuthority.isNull()) {
        if (error)
            *error = QStringLiteral("generated certificates do not load");
        return std::nullopt;
    }
    return certs;
}
