#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QPair>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;

// One HTTP request as the loading layer sends it: URL, method, header fields in the order they were first set
// (names compared case-insensitively), body and timeout in seconds.
struct URLRequest {
    QUrl url;
    std::optional<QString> httpMethod;
    QList<QPair<QString, QString>> allHTTPHeaderFields;
    std::optional<QByteArray> httpBody;
    double timeoutInterval = 60;

    // Sets a header field, replacing a field of the same name (any letter case).
    void setValue(const QString& value, const QString& field);
    std::optional<QString> value(const QString& field) const;
};

// What came back: the URL, and for an HTTP reply its status code and header fields.
struct URLResponse {
    QUrl url;
    std::optional<int> statusCode;
    QList<QPair<QByteArray, QByteArray>> headerFields;

    bool isHTTP() const { return statusCode.has_value(); }
};

// Settings of the loading layer for a request.
struct SessionConfiguration {
    // TLS settings (trusted roots, protocols); absent means the system's.
    std::optional<QSslConfiguration> sslConfiguration;
    // A reply body beyond this size is refused, so a hostile server cannot make us allocate without bound.
    qint64 maximumResponseBytes = 16 * 1024 * 1024;

    static SessionConfiguration defaultConfiguration() { return {}; }
};

struct URLLoadResult {
    QByteArray data;
    URLResponse response;
};

// Lets the caller of URLSession::data watch the upload and stop the transfer.
class URLSessionTask {
public:
    // Bytes of the body sent so far and the body's size, as the upload goes.
    std::function<void(qint64 totalBytesSent, qint64 totalBytesExpectedToSend)> didSendBodyData;

    // Stops the transfer, also one that has not started yet: URLSession::data then fails with
    // URLError::cancelled.
    void cancel();

private:
    friend class URLSession;
    QPointer<QNetworkReply> m_reply;
    bool m_cancelled = false;
};

// The loading layer over Qt Network: one shared access manager per run, certificate pinning on every TLS
// connection, transport failures as URLError with the platform's codes.
class URLSession {
public:
    // Sends the request and waits for the whole reply; throws URLError on a transport failure. An HTTP
    // status is no failure here. The timeout counts from the last sign of progress.
    static QCoro::Task<URLLoadResult>
    data(URLRequest request,
         SessionConfiguration configuration = SessionConfiguration::defaultConfiguration(),
         std::shared_ptr<URLSessionTask> task = nullptr);

    // The URL error code for a Qt Network error, given the TLS errors the handshake reported.
    static int errorCode(QNetworkReply::NetworkError error, const QList<QSslError>& sslErrors = {});

    static QNetworkAccessManager& sharedManager();

    // Replaces the check whether this computer is on a network at all (for tests); nothing restores it.
    static void setNetworkProbe(std::function<bool()> probe);
};
