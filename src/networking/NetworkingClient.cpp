#include "NetworkingClient.h"

#include <QJsonDocument>
#include <QJsonParseError>

QJsonValue parseJSON(const QByteArray& data) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        throw JSONSerializationError(
            QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset));
    if (document.isObject())
        return document.object();
    if (document.isArray())
        return document.array();
    throw JSONSerializationError(QStringLiteral("neither an object nor an array at the top"));
}

NetworkingClient::NetworkingClient(QString baseURL, std::optional<double> timeout, QObject* parent)
    : QObject(parent)
    , baseURL(std::move(baseURL))
    , timeout(timeout) {}

NetworkingClient::~NetworkingClient() = default;

std::unique_ptr<NetworkingRequest> NetworkingClient::makeRequest(HTTPMethod httpMethod, const QString& route,
                                                                 const Params& params) {
    auto request = std::make_unique<NetworkingRequest>();
    request->httpMethod = httpMethod;
    request->route = route;
    request->params = params;
    configure(*request);
    request->executeTask = m_calls.makeTask();
    // Both sides held weakly: a request never keeps the client alive, nor the client its requests.
    request->requestRetrier =
        [client = QPointer<NetworkingClient>(this), target = QPointer<NetworkingRequest>(request.get())](
            const URLRequest& failed, const rx::Error& error) -> std::optional<rx::Publisher<rx::Void>> {
        if (!client)
            return std::nullopt;
        return client->retryPublisher(target, failed, error);
    };
    return request;
}

void NetworkingClient::configure(NetworkingRequest& request) const {
    request.baseURL = baseURL;
    request.logger.logLevel = logger.logLevel;
    request.headers = headers;
    request.parameterEncoding = parameterEncoding;
    request.sessionConfiguration = sessionConfiguration;
    request.timeout = timeout;
}

QJsonValue NetworkingClient::resourceJSON(const QJsonValue& json,
                                          const std::optional<QString>& keyPath) const {
    if (!keyPath || keyPath->isEmpty() || !json.isObject())
        return json;
    const QJsonObject object = json.toObject();
    const auto it = object.constFind(*keyPath);
    if (it == object.constEnd() || it->isNull())
        return json;
    return *it;
}
