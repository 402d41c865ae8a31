#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>

#include <optional>

class QTcpSocket;

// An HTTP server on loopback that works at the connection level: each request it reads gets the next scripted
// answer, which may also be to hang up (cleanly or with a reset) without a reply. It records every request
// and every connection, so a test can tell whether a client sent something twice or on which connection.
class RawHttpServer : public QObject {
    Q_OBJECT

public:
    enum class Action { reply, close, reset };
    struct Answer {
        Action action = Action::reply;
        QByteArray response; // the raw bytes of a reply: status line, header fields, body
        // Then `filler` over and over, `fillerBytes` in all, sent as the client reads it (so the server holds
        // no more than a few copies however much it sends), and `tail` last.
        QByteArray filler = {};
        qint64 fillerBytes = 0;
        QByteArray tail = {};

        // A complete reply with the given status, header fields and body (Content-Length added).
        static Answer http(int status, const QList<QPair<QByteArray, QByteArray>>& fields = {},
                           const QByteArray& body = {});
    };

    struct Received {
        int connection = 0; // 1 for the first connection accepted
        QByteArray method;
        QByteArray path;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        QByteArray header(const QByteArray& name) const;
    };

    explicit RawHttpServer(QObject* parent = nullptr);
    ~RawHttpServer() override;

    bool start();
    quint16 port() const { return m_server.serverPort(); }
    QString baseURL(const QString& host = QStringLiteral("127.0.0.1")) const;

    // Answers in turn; the last one repeats.
    void setAnswers(const QList<Answer>& answers) { m_answers = answers; }

    // Hangs up on every connection (`how`: close or reset) before any request: as soon as it is accepted,
    // or once its first bytes (a TLS client's hello) have come in.
    enum class HangUpPoint { accepted, firstBytes };
    void hangUpEarly(Action how, HangUpPoint when) { m_earlyHangUp = {{how, when}}; }

    const QList<Received>& received() const { return m_received; }
    int connections() const { return m_connections; }
    // Filler bytes handed to the connections so far.
    qint64 fillerSent() const { return m_fillerSent; }

private:
    void accept();
    void readFrom(QTcpSocket* socket);
    void stream(QTcpSocket* socket, const Answer& answer);
    void hangUp(QTcpSocket* socket, Action how);

    QTcpServer m_server;
    QList<Answer> m_answers;
    std::optional<QPair<Action, HangUpPoint>> m_earlyHangUp;
    QList<Received> m_received;
    QHash<QTcpSocket*, QByteArray> m_pending;
    QHash<QTcpSocket*, int> m_connectionOf;
    QList<QPointer<QTcpSocket>> m_sockets;
    int m_connections = 0;
    qint64 m_fillerSent = 0;
};
