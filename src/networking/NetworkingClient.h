#pragma once

#include "NetworkingError.h"
#include "NetworkingOperations.h"
#include "NetworkingRequest.h"
#include "platform/JsonCoding.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <QCoroTask>

#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The parameter dictionary of a request: the JSON form of a request model.
using Params = QJsonObject;

// The parameter dictionary of an encodable model. Throws the encoder's error, or an encoding error with
// "Could not cast JSON content to Params" when the model's JSON form is not an object.
template <typename T> Params asParams(const T& value) {
    const QJsonValue json = coding::encode(value);
    if (!json.isObject())
        throw coding::EncodingError({}, QStringLiteral("Could not cast JSON content to Params"));
    return json.toObject();
}

// Models that build themselves from a parsed JSON value.
template <typename T>
concept NetworkingJSONDecodable = requires(const QJsonValue& json) {
    { T::decode(json) } -> std::convertible_to<T>;
};

// Parses a reply body whose top level must be an object or an array; throws JSONSerializationError.
QJsonValue parseJSON(const QByteArray& data);

// The one object through which the program talks to the service's HTTP API: the configuration every
// request shares, and one NetworkingRequest per call.
class NetworkingClient : public QObject, public NetworkingOperations<NetworkingClient> {
    Q_OBJECT

public:
    using Operations = NetworkingOperations<NetworkingClient>;
    using Operations::delete_;
    using Operations::get;
    using Operations::patch;
    using Operations::post;
    using Operations::put;

    explicit NetworkingClient(QString baseURL, std::optional<double> timeout = std::nullopt,
                              QObject* parent = nullptr);
    ~NetworkingClient() override;

    std::optional<QString> defaultCollectionParsingKeyPath;
    QString baseURL;
    QList<QPair<QString, QString>> headers;
    ParameterEncoding parameterEncoding = ParameterEncoding::urlEncoded;
    std::optional<double> timeout;
    SessionConfiguration sessionConfiguration = SessionConfiguration::defaultConfiguration();
    NetworkingLogger logger;
    // Consulted by every request after a failure on the retrying publisher path; see NetworkingRequest.
    NetworkingRequest::Retrier requestRetrier;

    NetworkingLogLevel logLevel() const { return logger.logLevel; }
    void setLogLevel(NetworkingLogLevel level) { logger.logLevel = level; }

    // A request carrying the client's configuration. The request holds the client only weakly; the client
    // cancels its execute() call when the client goes, and the caller resumes with URLError::cancelled.
    std::unique_ptr<NetworkingRequest> makeRequest(HTTPMethod httpMethod, const QString& route,
                                                   const Params& params);
    // Copies the client's configuration into the request.
    void configure(NetworkingRequest& request) const;
    // The retry hook of the client's requests: the client's retrier, if any, with the client's
    // configuration copied into `request` again before each retry.
    std::optional<rx::Publisher<rx::Void>> retryPublisher(const QPointer<NetworkingRequest>& request,
                                                          const URLRequest& failed, const rx::Error& error);

    NetworkingClient& network() { return *this; }

    // POSTs the parameters to the route and decodes the reply (or its member `keyPath`) as T. Errors of the
    // request, the JSON parser and the decoder pass through unchanged.
    template <typename T>
    QCoro::Task<T> post(QString route, Params params, std::optional<QString> keyPath = std::nullopt) {
        QByteArray data;
        {
            const std::unique_ptr<NetworkingRequest> request = makeRequest(HTTPMethod::post, route, params);
            data = co_await request->execute();
        }
        const QJsonValue json = parseJSON(data);
        data.clear();
        co_return decode<T>(json, keyPath);
    }

    // The member `keyPath` of a JSON object when it is present and not null; the value itself otherwise.
    // The key path is one member name, never a dotted path.
    virtual QJsonValue resourceJSON(const QJsonValue& json, const std::optional<QString>& keyPath) const;

    template <typename T>
    T decode(const QJsonValue& json, const std::optional<QString>& keyPath = std::nullopt) const {
        return coding::decode<T>(resourceJSON(json, keyPath));
    }

    // Empty when the payload is not a list; the first element that fails fails the whole list.
    template <typename T>
    std::vector<T> decodeArray(const QJsonValue& json,
                               const std::optional<QString>& keyPath = std::nullopt) const {
        const QJsonValue payload = resourceJSON(json, keyPath);
        std::vector<T> result;
        if (!payload.isArray())
            return result;
        for (const QJsonValue& element : payload.toArray())
            result.push_back(coding::decode<T>(element));
        return result;
    }

    template <NetworkingJSONDecodable T>
    T toModel(const QJsonValue& json, const std::optional<QString>& keyPath = std::nullopt) const {
        return T::decode(resourceJSON(json, keyPath));
    }

    template <NetworkingJSONDecodable T>
    std::vector<T> toModels(const QJsonValue& json,
                            const std::optional<QString>& keyPath = std::nullopt) const {
        const QJsonValue payload = resourceJSON(json, keyPath);
        std::vector<T> result;
        if (!payload.isArray())
            return result;
        for (const QJsonValue& element : payload.toArray())
            result.push_back(T::decode(element));
        return result;
    }

private:
    // The calls of the requests made here. Declared last, so it goes first: the calls it cancels resume
    // while every other member is still there.
    URLSessionTasks m_calls;
};
