// The development identity service: HTTPS on 127.0.0.1 for a client built for the development environment.
//   dev-identity-service --certificate <pem> --key <pem> [--port 8443] [--state <file>] [--idle-minutes <n>]
// Port 0 takes a free port. The first line of output is "listening <base URL>"; a port in use ends the
// program with status 2.
#include "DevIdentityService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("QuorvaleID development identity service"));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0: any free one)."),
                                  QStringLiteral("port"), QStringLiteral("8443"));
    const QCommandLineOption certificate(QStringLiteral("certificate"), QStringLiteral("Server certificate (PEM)."),
                                         QStringLiteral("file"));
    const QCommandLineOption key(QStringLiteral("key"), QStringLiteral("Server private key (PEM)."),
                                 QStringLiteral("file"));
    const QCommandLineOption state(QStringLiteral("state"), QStringLiteral("File that keeps registered devices."),
                                   QStringLiteral("file"));
    const QCommandLineOption idleMinutes(
        QStringLiteral("idle-minutes"),
        QStringLiteral("Desktop idle time in minutes, in place of the default."), QStringLiteral("minutes"));
    parser.addOptions({port, certificate, key, state, idleMinutes});
    parser.process(application);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QSslCertificate serverCertificate(readFile(parser.value(certificate)), QSsl::Pem);
    const QSslKey serverKey(readFile(parser.value(key)), QSsl::Rsa, QSsl::Pem);
    if (serverCertificate.isNull() || serverKey.isNull()) {
        err << "The server certificate or key cannot be read (--certificate, --key).\n";
        return 1;
    }
    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535) {
        err << "--port takes a number from 0 to 65535.\n";
        return 1;
    }

    DevIdentityService::Seed seed;
    if (parser.isSet(idleMinutes)) {
        bool minutesOk = false;
        const int minutes = parser.value(idleMinutes).toInt(&minutesOk);
        if (!minutesOk || minutes < 1) {
            err << "--idle-minutes takes a whole number of minutes, 1 or more.\n";
            return 1;
        }
        seed.idleMinutes = minutes;
    }
    seed.latestVersion = QStringLiteral(QUORVALE_VERSION);
    seed.minimumVersion = QStringLiteral(QUORVALE_VERSION);
    DevIdentityService service(seed, parser.value(state));
    if (!service.start(quint16(portNumber), serverCertificate, serverKey)) {
        err << "Port " << portNumber << " on 127.0.0.1 is already in use.\n";
        return 2;
    }
    out << "listening " << service.baseURL() << "\n"
        << "  organisation:    " << seed.orgName << " (" << seed.orgCode << ")\n"
        << "  user e-mail:     " << service.seed().email << "\n"
        << "  activation code: " << service.seed().activationCode << "\n"
        << "  web sign-in:     " << service.baseURL() << "/dev/\n"
        << "  An activation code enrols one device; POST " << service.baseURL()
        << "/dev/activation-code[?email=<address>] gives a new one.\n";
    out.flush();
    return application.exec();
}
