#include "IdentityServiceDouble.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QSslConfiguration>
#include <QTcpSocket>

std::optional<QByteArray> ReceivedRequest::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

IdentityServiceDouble::IdentityServiceDouble(QObject* parent)
    : QAbstractHttpServer(parent) {
    for (const QString& route : serviceRoutes())
        m_replies.insert(route, ScriptedReply::json(200, "{}"));
}

IdentityServiceDouble::~IdentityServiceDouble() {
    for (const auto& socket : std::as_const(m_silenced))
        if (socket)
            socket->abort();
}

QStringList IdentityServiceDouble::serviceRoutes() {
    return {QStringLiteral("/api/v1/user/registration/validate"),
            QStringLiteral("/api/v1/desktop/user/register"),
            QStringLiteral("/api/v1/verify/did"),
            QStringLiteral("/api/v1/confirm/qid"),
            QStringLiteral("/api/v1/verify/validationCode"),
            QStringLiteral("/api/v1/device/manage"),
            QStringLiteral("/api/v1/desktop/initialize?requestType=version&os=macOS"),
            QStringLiteral("/api/v1/desktop/initialize?requestType=usersNotExist")};
}

bool IdentityServiceDouble::start(quint16 port) {
    m_port = listen(QHostAddress::LocalHost, port);
    return m_port != 0;
}

QString IdentityServiceDouble::baseURL(const QString& host) const {
    return QStringLiteral("%1://%2:%3")
        .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"), host)
        .arg(m_port);
}

void IdentityServiceDouble::useTls(const QSslCertificate& certificate, const QSslKey& privateKey) {
    sslSetup(certificate, privateKey);
    m_tls = true;
}

void IdentityServiceDouble::useTls(const QList<QSslCertificate>& chain, const QSslKey& privateKey) {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(privateKey);
    sslSetup(configuration);
    m_tls = true;
}

void IdentityServiceDouble::setReply(const QString& route, const ScriptedReply& reply) {
    m_replies.insert(route, reply);
}

bool IdentityServiceDouble::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    ReceivedRequest received;
    const QMetaEnum methods = QMetaEnum::fromType<QHttpServerRequest::Methods>();
    received.method = QString::fromLatin1(methods.valueToKey(int(request.method()))).toUpper();
    received.path = request.url().path();
    received.query = request.url().query(QUrl::FullyEncoded);
    received.headers = request.headers();
    received.body = request.body();
    if (m_recording)
        m_received.append(received);

    std::optional<ScriptedReply> reply;
    if (m_handler)
        reply = m_handler(received);
    if (!reply) {
        auto it = m_replies.constFind(received.route());
        if (it == m_replies.constEnd())
            it = m_replies.constFind(received.path);
        reply = it == m_replies.constEnd() ? m_fallback : *it;
    }
    emit requestReceived();

    if (reply->neverAnswer) {
        m_silenced.append(socket);
        return true;
    }
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.write(reply->body, reply->contentType.constData(),
                    static_cast<QHttpServerResponder::StatusCode>(reply->status));
    return true;
}

void IdentityServiceDouble::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}
