#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;

// One running client per user: the first start listens on a local socket in the user's runtime folder;
// a later start hands its link (or nothing) to the running one and ends. A socket file left behind by a
// run that crashed is taken over. The socket's folder must be the user's alone (owned, mode 0700); without
// such a folder each start runs on its own.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role {
        // This process runs the client; links from later starts arrive through linkReceived().
        primary,
        // Another process runs the client and has the link; this one ends.
        handedOver,
        // A running client took the connection but not the link; this one ends without a second window.
        unanswered,
        // Neither listening nor handing over worked; this process runs the client without the socket.
        alone,
    };

    // `socketPath` empty: "quorvaleid.socket" in the user's runtime folder, when there is one.
    explicit SingleInstance(QString socketPath = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Hands `link` to a running client, or becomes the running client. Waits at most a few seconds for a
    // running one to take the link.
    Role claim(const std::optional<QUrl>& link);

    const QString& socketPath() const { return m_socketPath; }
    // What went wrong when claim() answered `alone`.
    const QString& errorString() const { return m_error; }

    // Empty when the user has no runtime folder.
    static QString defaultSocketPath();
    // The first argument after the program name that is a "quorvaleid:" link; the rest are ignored.
    static std::optional<QUrl> linkFromArguments(const QStringList& arguments);

signals:
    // A later start's link; nothing when it was started without one.
    void linkReceived(const std::optional<QUrl>& link);

private:
    enum class HandOver { nobodyListening, delivered, unanswered };
    HandOver handOver(const std::optional<QUrl>& link);
    void acceptConnections();
    void readMessage(QLocalSocket* socket);

    QString m_socketPath;
    QString m_error;
    std::unique_ptr<QLocalServer> m_server;
};
