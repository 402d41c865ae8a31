#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVariant>

#include <functional>

// A loopback HTTP/1.1 server for tests: answers each request from a handler and records what it got.
class ScriptedServer : public QObject {
public:
    struct Request {
        QByteArray method;
        QByteArray target;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        bool hold = false; // never answer; the connection stays open until the client gives up
    };
    using Handler = std::function<Reply(const Request&)>;

    explicit ScriptedServer(QObject* parent = nullptr)
        : QObject(parent) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }

    QString baseURL() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    void reply(int status, const QByteArray& body) {
        setHandler([status, body](const Request&) { return Reply{status, body}; });
    }

    QList<Request> requests;
    int closedByClient = 0;

private:
    void serve(QTcpSocket* socket) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (!socket->property("answered").toBool())
                ++closedByClient;
        });
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            const qsizetype headerEnd = buffer->indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            Request request;
            const QList<QByteArray> lines = buffer->left(headerEnd).split('\n');
            const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
            request.method = start.value(0);
            request.target = start.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                           lines[i].mid(colon + 1).trimmed());
            }
            const qsizetype length = request.headers.value("content-length", "0").toLongLong();
            if (buffer->size() < headerEnd + 4 + length)
                return;
            request.body = buffer->mid(headerEnd + 4, length);
            buffer->clear();
            requests.append(request);
            const Reply reply = m_handler ? m_handler(request) : Reply{};
            if (reply.hold)
                return;
            socket->setProperty("answered", true);
            QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
            out += "Content-Type: " + reply.contentType + "\r\n";
            out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
            out += "Connection: close\r\n\r\n" + reply.body;
            socket->write(out);
            socket->disconnectFromHost();
        });
    }

    QTcpServer m_server;
    Handler m_handler;
};
