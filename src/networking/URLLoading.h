#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

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
    // Authorities trusted for this request besides the system's own (a test's throw-away authority, a
    // development server's).
    QList<QSslCertificate> extraTrustedRoots;
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
    // URLError::cancelled. Its caller resumes later, from the event loop, so this is safe anywhere, also
    // inside the progress handler.
    void cancel();
    // The same for an owner that is going away: before this returns, the caller of URLSession::data has
    // resumed with URLError::cancelled (a reply that came in but was not handed over yet is dropped) and
    // the transfer is freed. Not from inside the progress handler; there it does what cancel() does.
    void cancelNow();

private:
    friend class HttpTransport;
    // Takes whether the awaiting caller resumes before it returns.
    std::function<void(bool now)> m_stopTransfer;
    bool m_cancelled = false;
};

// The transfers of one owner, which end with it: when the list goes (or on cancelAll()), every one still
// out is cancelled at once, so no coroutine is left waiting for a reply nobody will take.
class URLSessionTasks {
public:
    URLSessionTasks() = default;
    ~URLSessionTasks();
    URLSessionTasks(const URLSessionTasks&) = delete;
    URLSessionTasks& operator=(const URLSessionTasks&) = delete;

    // A task for one more transfer of the owner's.
    std::shared_ptr<URLSessionTask> makeTask();
    // cancelNow() for each task still in use.
    void cancelAll();

private:
    std::vector<std::weak_ptr<URLSessionTask>> m_tasks;
};

// The loading layer: every request of the client goes through here. Certificate pinning on every TLS
// connection, redirects followed only within the request's own origin, transport failures as URLError with
// the platform's codes.
class URLSession {
public:
    // Sends the request and waits for the whole reply; throws URLError on a transport failure. An HTTP
    // status is no failure here. The timeout counts from the last sign of progress.
    static QCoro::Task<URLLoadResult>
    data(URLRequest request,
         SessionConfiguration configuration = SessionConfiguration::defaultConfiguration(),
         std::shared_ptr<URLSessionTask> task = nullptr);

    // Replaces the check whether this computer is on a network at all (for tests); nothing restores it.
    static void setNetworkProbe(std::function<bool()> probe);
};
