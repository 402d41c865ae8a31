#pragma once

#include "Multipart.h"
#include "NetworkingLogger.h"
#include "URLLoading.h"
#include "platform/Publisher.h"
#include "platform/Subject.h"

#include <QJsonObject>
#include <QObject>

#include <QCoroTask>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

enum class HTTPMethod { get, put, patch, post, delete_ };

QString rawValue(HTTPMethod method);
// Exactly "GET", "PUT", "PATCH", "POST" or "DELETE"; nothing for any other text.
std::optional<HTTPMethod> httpMethodFromRawValue(const QString& rawValue);

enum class ParameterEncoding { urlEncoded, json };

// How far an upload has got: the body's size and the bytes of it sent so far.
struct Progress {
    qint64 totalUnitCount = 0;
    qint64 completedUnitCount = 0;
    bool operator==(const Progress&) const = default;
};

// One event of an upload: the reply body once it is there (with an empty progress), or progress alone.
using DataWithProgress = std::pair<std::optional<QByteArray>, Progress>;

// One HTTP request of the client: configured, run once, then dropped. A request owned by a shared_ptr
// stays alive while a publisher made from it is in use, so that it can be asked to retry.
class NetworkingRequest : public QObject, public std::enable_shared_from_this<NetworkingRequest> {
    Q_OBJECT

public:
    // Asked after a failure on the retrying publisher path, with the failed request and the error; a
    // publisher means "retry once for each value it gives".
    using Retrier =
        std::function<std::optional<rx::Publisher<rx::Void>>(const URLRequest&, const rx::Error&)>;

    NetworkingRequest();
    ~NetworkingRequest() override;

    ParameterEncoding parameterEncoding = ParameterEncoding::json;
    QString baseURL;
    QString route;
    HTTPMethod httpMethod = HTTPMethod::get;
    QJsonObject params;
    QList<QPair<QString, QString>> headers;
    std::optional<std::vector<MultipartData>> multipartData;
    const QString contentTypeKey = QStringLiteral("Content-Type");
    NetworkingLogger logger;
    std::optional<double> timeout;
    std::optional<SessionConfiguration> sessionConfiguration;
    const rx::PassthroughSubject<Progress> progressPublisher;
    Retrier requestRetrier;
    const int maxRetryCount = 3;
    // The transfer of execute(), when whoever made the request wants to be able to end it: the client
    // cancels the calls of its requests when it goes.
    std::shared_ptr<URLSessionTask> executeTask;

    // The publisher paths deliver on the main thread and turn every failure into a NetworkingError. The
    // transfer starts when the stream is subscribed; cancelling the subscription stops it.

    // Upload progress merged with the reply; no retries. The stream finishes after the reply.
    virtual rx::Publisher<DataWithProgress> publisherWithProgress();
    // publisher(retriesLeft) with maxRetryCount: at most three tries.
    virtual rx::Publisher<QByteArray> publisher();
    virtual rx::Publisher<QByteArray> publisher(int retriesLeft);

    // Sends the request and returns the reply body. Throws NetworkingError for a URL that does not parse and
    // for an HTTP status outside 200 to 299, and the URLError of a transport failure unchanged.
    virtual QCoro::Task<QByteArray> execute();

    virtual URLRequest applyHeaders(URLRequest request) const;
    virtual QString urlString() const;
    virtual void applyContentType(URLRequest& request) const;
    virtual void applyMultipart(URLRequest& request) const;
    // Nothing when the URL text does not parse.
    virtual std::optional<URLRequest> makeURLRequest() const;

    // Turns what the transport handed over into the result of execute(): the data, or the error to throw.
    // Called with neither data and response nor an error, it fails with a bad-server-response URL error.
    QByteArray handleCompletion(const std::optional<QByteArray>& data,
                                const std::optional<URLResponse>& response, std::exception_ptr error);

    // The status check of the publisher paths: logs the reply, then returns the data or throws the
    // NetworkingError of an HTTP status outside 200 to 299.
    QByteArray validate(const QByteArray& data, const URLResponse& response);

    // Upload progress from the transfer, passed on to progressPublisher.
    void didSendBodyData(qint64 totalBytesSent, qint64 totalBytesExpectedToSend);

    QByteArray multipartBody(const QJsonObject& params, const std::vector<MultipartData>& parts,
                             const QString& boundary) const;

    // The url-encoded form of the parameters: entries joined with "&", nested dictionaries as parent[key],
    // lists as key[]=element.
    static QString queryString(const QJsonObject& params);
    static QString percentEncoded(const QString& text);

protected:
    // The transfer under execute() and the publisher paths. Tests put a transport of their own here to
    // reach failures that loopback cannot produce, such as being offline.
    virtual QCoro::Task<URLLoadResult> load(URLRequest request, SessionConfiguration configuration,
                                            std::shared_ptr<URLSessionTask> task);

private:
    struct StreamParts;
    void reportNonFatal(const QByteArray& data, const URLResponse& response, qint64 errorCode,
                        qint64 resultCode) const;

    std::optional<URLRequest> m_urlRequest;
};
