#include "RawHttpServer.h"

#include <QTcpSocket>

#include <sys/socket.h>

#include <algorithm>
#include <memory>

RawHttpServer::Answer RawHttpServer::Answer::http(int status,
                                                  const QList<QPair<QByteArray, QByteArray>>& fields,
                                                  const QByteArray& body) {
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\n";
    for (const auto& [name, value] : fields)
        response += name + ": " + value + "\r\n";
    response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    return {Action::reply, response};
}

QByteArray RawHttpServer::Received::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

RawHttpServer::RawHttpServer(QObject* parent)
    : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &RawHttpServer::accept);
}

RawHttpServer::~RawHttpServer() {
    for (const auto& socket : std::as_const(m_sockets))
        if (socket)
            socket->abort();
}

bool RawHttpServer::start() {
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString RawHttpServer::baseURL(const QString& host) const {
    return QStringLiteral("http://%1:%2").arg(host).arg(port());
}

void RawHttpServer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        m_sockets.append(socket);
        m_connectionOf.insert(socket, ++m_connections);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (m_earlyHangUp && m_earlyHangUp->second == HangUpPoint::accepted)
            hangUp(socket, m_earlyHangUp->first);
    }
}

void RawHttpServer::hangUp(QTcpSocket* socket, Action how) {
    m_pending.remove(socket);
    if (how == Action::reset) {
        // A zero linger time makes the close a reset instead of an orderly end.
        const linger hard{1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
    } else {
        socket->disconnectFromHost();
    }
}

void RawHttpServer::readFrom(QTcpSocket* socket) {
    if (m_earlyHangUp && m_earlyHangUp->second == HangUpPoint::firstBytes) {
        socket->readAll();
        hangUp(socket, m_earlyHangUp->first);
        return;
    }
    QByteArray& buffer = m_pending[socket];
    buffer += socket->readAll();
    for (;;) {
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        Received request;
        request.connection = m_connectionOf.value(socket);
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        request.method = start.value(0);
        request.path = start.value(1);
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = lines[i].left(colon).trimmed();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            request.headers.append({name, value});
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                length = value.toLongLong();
        }
        if (buffer.size() < headEnd + 4 + length)
            return;
        request.body = buffer.mid(headEnd + 4, length);
        buffer.remove(0, headEnd + 4 + length);

        const qsizetype index = std::min<qsizetype>(m_received.size(), m_answers.size() - 1);
        m_received.append(request);
        const Answer answer = index >= 0 ? m_answers[index] : Answer::http(200);
        switch (answer.action) {
        case Action::reply:
            socket->write(answer.response);
            if (answer.fillerBytes > 0)
                stream(socket, answer);
            break;
        case Action::close:
        case Action::reset:
            hangUp(socket, answer.action);
            return;
        }
    }
}

void RawHttpServer::stream(QTcpSocket* socket, const Answer& answer) {
    auto left = std::make_shared<qint64>(answer.fillerBytes);
    auto pump = [this, socket, left, filler = answer.filler, tail = answer.tail] {
        while (*left > 0 && socket->state() == QAbstractSocket::ConnectedState &&
               socket->bytesToWrite() < 4 * filler.size()) {
            const qint64 piece = std::min<qint64>(*left, filler.size());
            socket->write(filler.constData(), piece);
            *left -= piece;
            m_fillerSent += piece;
        }
        if (*left == 0) {
            socket->write(tail);
            *left = -1;
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, pump);
    pump();
}
