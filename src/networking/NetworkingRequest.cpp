#include "NetworkingRequest.h"

#include "NetworkingError.h"
#include "api/CommonResponse.h"
#include "platform/BundleInfo.h"
#include "platform/CrashReporting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>
#include <QUrlQuery>
#include <QUuid>

namespace {

// The printed text of a parameter value in a query or a form body.
QString printed(const QJsonValue& value) {
    if (value.isArray() || value.isObject()) {
        const QJsonDocument doc =
            value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
        return QString::fromUtf8(doc.toJson(QJsonDocument::Compact));
    }
    return formFieldText(value);
}

QString renderEntry(const QString& key, const QJsonValue& value, const QString& parent) {
    QString name = NetworkingRequest::percentEncoded(key);
    if (!parent.isEmpty())
        name = parent + QLatin1Char('[') + name + QLatin1Char(']');
    if (value.isObject()) {
        QStringList parts;
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            parts << renderEntry(it.key(), it.value(), name);
        return parts.join(QLatin1Char('&'));
    }
    if (value.isArray()) {
        QStringList parts;
        for (const QJsonValue& element : value.toArray())
            parts << name + QStringLiteral("[]=") + NetworkingRequest::percentEncoded(printed(element));
        return parts.join(QLatin1Char('&'));
    }
    return name + QLatin1Char('=') + NetworkingRequest::percentEncoded(printed(value));
}

std::optional<QUrl> parsedURL(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

bool isValidUTF8(const QByteArray& data, QString* text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = decoder.decode(data);
    return !decoder.hasError();
}

// An HTTP status outside 200 to 299 as a NetworkingError carrying the parsed body.
void throwIfFailedStatus(const QByteArray& data, const URLResponse& response) {
    if (!response.isHTTP() || (*response.statusCode >= 200 && *response.statusCode <= 299))
        return;
    std::optional<QJsonValue> payload;
    const QJsonDocument document = QJsonDocument::fromJson(data);
    if (document.isObject())
        payload = document.object();
    else if (document.isArray())
        payload = document.array();
    throw NetworkingError(NetworkingError::fromStatusCode(*response.statusCode).status, payload);
}

} // namespace

QString rawValue(HTTPMethod method) {
    switch (method) {
    case HTTPMethod::get:
        return QStringLiteral("GET");
    case HTTPMethod::put:
        return QStringLiteral("PUT");
    case HTTPMethod::patch:
        return QStringLiteral("PATCH");
    case HTTPMethod::post:
        return QStringLiteral("POST");
    case HTTPMethod::delete_:
        return QStringLiteral("DELETE");
    }
    return {};
}

std::optional<HTTPMethod> httpMethodFromRawValue(const QString& text) {
    for (HTTPMethod m :
         {HTTPMethod::get, HTTPMethod::put, HTTPMethod::patch, HTTPMethod::post, HTTPMethod::delete_})
        if (rawValue(m) == text)
            return m;
    return std::nullopt;
}

NetworkingRequest::NetworkingRequest() = default;
NetworkingRequest::~NetworkingRequest() = default;

QString NetworkingRequest::percentEncoded(const QString& text) {
    // Everything but letters, digits and "-._~/?" is escaped, so "&", "=" and "+" never split a value.
    return QString::fromLatin1(QUrl::toPercentEncoding(text, "/?"));
}

QString NetworkingRequest::queryString(const QJsonObject& params) {
    QStringList parts;
    for (auto it = params.begin(); it != params.end(); ++it)
        parts << renderEntry(it.key(), it.value(), {});
    return parts.join(QLatin1Char('&'));
}

QString NetworkingRequest::urlString() const {
    const QString text = baseURL + route;
    if (params.isEmpty())
        return text;
    const auto url = parsedURL(text);
    if (!url)
        return text;
    QUrl result = *url;
    QUrlQuery query(result);
    for (auto it = params.begin(); it != params.end(); ++it) {
        if (it.value().isArray()) {
            for (const QJsonValue& element : it.value().toArray())
                query.addQueryItem(it.key() + QStringLiteral("[]"), printed(element));
        } else {
            query.addQueryItem(it.key(), printed(it.value()));
        }
    }
    result.setQuery(query);
    return result.isValid() ? result.toString(QUrl::FullyEncoded) : text;
}

void NetworkingRequest::applyContentType(URLRequest& request) const {
    if (httpMethod == HTTPMethod::get || multipartData)
        return;
    request.setValue(parameterEncoding == ParameterEncoding::json
                         ? QStringLiteral("application/json")
                         : QStringLiteral("application/x-www-form-urlencoded"),
                     contentTypeKey);
}

URLRequest NetworkingRequest::applyHeaders(URLRequest request) const {
    for (const auto& [name, value] : headers)
        request.setValue(value, name);
    request.setValue(QStringLiteral("mac"), QStringLiteral("x-source-app"));
    if (const auto version = BundleInfo::string(QStringLiteral("CFBundleShortVersionString")))
        request.setValue(*version, QStringLiteral("x-source-app-version"));
    return request;
}

void NetworkingRequest::applyMultipart(URLRequest& request) const {
    if (!multipartData)
        return;
    const QString boundary =
        QStringLiteral("Boundary-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    request.setValue(QStringLiteral("multipart/form-data; boundary=") + boundary, contentTypeKey);
    request.httpBody = multipartBody(params, *multipartData, boundary);
}

QByteArray NetworkingRequest::multipartBody(const QJsonObject& p, const std::vector<MultipartData>& parts,
                                            const QString& boundary) const {
    return ::multipartBody(p, parts, boundary);
}

std::optional<URLRequest> NetworkingRequest::makeURLRequest() const {
    const auto url = parsedURL(httpMethod == HTTPMethod::get ? urlString() : baseURL + route);
    if (!url)
        return std::nullopt;
    URLRequest request;
    request.url = *url;
    request.timeoutInterval = 60;
    applyContentType(request);
    request.httpMethod = rawValue(httpMethod);
    request = applyHeaders(std::move(request));
    if (timeout)
        request.timeoutInterval = *timeout;
    if (httpMethod != HTTPMethod::get && !multipartData) {
        if (parameterEncoding == ParameterEncoding::json)
            request.httpBody = QJsonDocument(params).toJson(QJsonDocument::Compact);
        else
            request.httpBody = queryString(params).toUtf8();
    }
    applyMultipart(request);
    return request;
}

QCoro::Task<QByteArray> NetworkingRequest::execute() {
    m_urlRequest = makeURLRequest();
    if (!m_urlRequest)
        throw NetworkingError::unableToParseRequest;
    logger.log(*m_urlRequest);

    std::optional<QByteArray> data;
    std::optional<URLResponse> response;
    std::exception_ptr error;
    try {
        URLLoadResult result = co_await load(
            *m_urlRequest, sessionConfiguration.value_or(SessionConfiguration::defaultConfiguration()),
            executeTask);
        data = std::move(result.data);
        response = std::move(result.response);
    } catch (...) {
        error = std::current_exception();
    }
    co_return handleCompletion(data, response, error);
}

QByteArray NetworkingRequest::handleCompletion(const std::optional<QByteArray>& data,
                                               const std::optional<URLResponse>& response,
                                               std::exception_ptr error) {
    if (!data || !response) {
        if (error)
            std::rethrow_exception(error);
        // The transport always hands over a reply or an error; should it ever hand over neither, the caller
        // still gets an answer instead of waiting for ever.
        throw URLError(URLError::badServerResponse, QStringLiteral("neither a reply nor an error"));
    }

    try {
        const auto envelope = coding::decode<CommonResponse>(*data);
        if (envelope.errorCode && envelope.resultCode &&
            (*envelope.errorCode != 0 || *envelope.resultCode != 0))
            reportNonFatal(*data, *response, *envelope.errorCode, *envelope.resultCode);
    } catch (const coding::DecodingError&) {
    }

    logger.log(&*response, *data);

    throwIfFailedStatus(*data, *response);
    return *data;
}

QByteArray NetworkingRequest::validate(const QByteArray& data, const URLResponse& response) {
    logger.log(&response, data);
    throwIfFailedStatus(data, response);
    return data;
}

void NetworkingRequest::reportNonFatal(const QByteArray& data, const URLResponse& response, qint64 errorCode,
                                       qint64 resultCode) const {
    CrashReporter& reporter = CrashReporter::shared();
    QString requestText;
    if (m_urlRequest && m_urlRequest->httpBody && isValidUTF8(*m_urlRequest->httpBody, &requestText))
        reporter.log(QStringLiteral("Request : ") + requestText);
    reporter.log(QStringLiteral("Response : ") + QString::fromUtf8(data));
    if (!response.isHTTP() || response.url.isEmpty())
        return;
    reporter.log(QStringLiteral("URL: : '") + response.url.toString(QUrl::FullyEncoded) + QLatin1Char('\''));
    const QString withoutQuery = response.url.toString(QUrl::FullyEncoded | QUrl::RemoveQuery);
    const QString key = withoutQuery.isEmpty() ? QStringLiteral("NA") : withoutQuery;
    reporter.setCustomValue(QStringLiteral("API_PATH"), key);
    reporter.record({QStringLiteral("Non-Fatal error"),
                     QStringLiteral("Error Code: %1 Result Code: %2").arg(errorCode).arg(resultCode)});
}
