#pragma once

#include "Multipart.h"
#include "NetworkingLogger.h"
#include "URLLoading.h"

#include <QJsonObject>
#include <QObject>

#include <QCoroTask>

#include <exception>
#include <optional>
#include <vector>

enum class HTTPMethod { get, put, patch, post, delete_ };

QString rawValue(HTTPMethod method);
// Exactly "GET", "PUT", "PATCH", "POST" or "DELETE"; nothing for any other text.
std::optional<HTTPMethod> httpMethodFromRawValue(const QString& rawValue);

enum class ParameterEncoding { urlEncoded, json };

// One HTTP request of the client: configured, run once, then dropped.
class NetworkingRequest : public QObject {
    Q_OBJECT

public:
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
    QByteArray handleCompletion(const std::optional<QByteArray>& data, const std::optional<URLResponse>& response,
                                std::exception_ptr error);

    QByteArray multipartBody(const QJsonObject& params, const std::vector<MultipartData>& parts,
                             const QString& boundary) const;

    // The url-encoded form of the parameters: entries joined with "&", nested dictionaries as parent[key],
    // lists as key[]=element.
    static QString queryString(const QJsonObject& params);
    static QString percentEncoded(const QString& text);

private:
    void reportNonFatal(const QByteArray& data, const URLResponse& response, qint64 errorCode, qint64 resultCode) const;

    std::optional<URLRequest> m_urlRequest;
};
