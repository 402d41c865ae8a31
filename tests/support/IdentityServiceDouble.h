#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QUrlQuery>

#include <functional>
#include <optional>

class QTcpSocket;

// A request as the double received it.
struct ReceivedRequest {
    QString method;
    QString path;
    QString query; // raw, without "?"
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // The path with "?" and the query when there is one: the route as the client wrote it.
    QString route() const { return query.isEmpty() ? path : path + QLatin1Char('?') + query; }
    std::optional<QByteArray> header(const QByteArray& name) const;
};

// What the double answers.
struct ScriptedReply {
    int status = 200;
    QByteArray body = "{}";
    QByteArray contentType = "application/json";
    // Keeps the connection open and never answers.
    bool neverAnswer = false;

    static ScriptedReply json(int status, const QByteArray& body) {
        return {status, body, "application/json", false};
    }
    static ScriptedReply silence() { return {200, {}, {}, true}; }
};

// The identity service on loopback, for tests and the benchmark: scripted replies per route, a record of
// every request it received. Plain HTTP unless TLS is set up before listen().
class IdentityServiceDouble : public QAbstractHttpServer {
    Q_OBJECT

public:
    explicit IdentityServiceDouble(QObject* parent = nullptr);
    ~IdentityServiceDouble() override;

    // Listens on 127.0.0.1 at `port`, or at a free port for 0; false when that fails.
    bool start(quint16 port = 0);
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:<port>", or https after useTls(); `host` replaces the address in the text.
    QString baseURL(const QString& host = QStringLiteral("127.0.0.1")) const;

    void useTls(const QSslCertificate& certificate, const QSslKey& privateKey);
    // Sends the whole chain (its own certificate first) in the handshake.
    void useTls(const QList<QSslCertificate>& chain, const QSslKey& privateKey);

    // The reply for a route: matched with its query first
    // ("/api/v1/desktop/initialize?requestType=version&os=macOS"), then by path alone.
    void setReply(const QString& route, const ScriptedReply& reply);
    // The reply for routes without their own; initially 404 with {}.
    void setFallbackReply(const ScriptedReply& reply) { m_fallback = reply; }

    // Decides before the scripted replies; returning nothing hands the request on to them. This is where a
    // check of the request (a signature, say) plugs in.
    using Handler = std::function<std::optional<ScriptedReply>(const ReceivedRequest&)>;
    void setHandler(Handler handler) { m_handler = std::move(handler); }

    const QList<ReceivedRequest>& received() const { return m_received; }
    ReceivedRequest lastRequest() const {
        return m_received.isEmpty() ? ReceivedRequest{} : m_received.last();
    }
    void clearReceived() { m_received.clear(); }
    // Whether requests are kept (the benchmark turns this off).
    void setRecording(bool on) { m_recording = on; }

    // The routes of the service with a plain success reply each.
    static QStringList serviceRoutes();

signals:
    void requestReceived();

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    quint16 m_port = 0;
    bool m_tls = false;
    bool m_recording = true;
    QHash<QString, ScriptedReply> m_replies;
    ScriptedReply m_fallback = ScriptedReply::json(404, "{}");
    Handler m_handler;
    QList<ReceivedRequest> m_received;
    QList<QPointer<QTcpSocket>> m_silenced;
};
