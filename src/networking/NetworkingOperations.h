#pragma once

// The client's convenience interface: for every HTTP verb and result kind, a publisher and an async
// operation. The kinds are written once below (taking the method); the per-verb names are generated
// from them. NetworkingClient offers all of it; any type that holds a client gets the same operations,
// minus request construction and uploads, by deriving from NetworkingService<Self> and providing
// `NetworkingClient& network()`.

#include "Multipart.h"
#include "NetworkingRequest.h"
#include "platform/Publisher.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QPointer>
#include <QString>

#include <QCoroTask>

#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

class NetworkingClient;

// Each reply body parsed as JSON: an object or an array at the top, else the parser's error fails the
// stream.
rx::Publisher<QJsonValue> toJSON(const rx::Publisher<QByteArray>& publisher);

namespace networking_detail {

QJsonValue parseReply(const QByteArray& data);

// The client was released while one of its replies was on the way; nothing is left to decode with.
[[noreturn]] void throwClientGone();

} // namespace networking_detail

#define QUORVALE_VERB_OPERATIONS(name, verb, method)                                                         \
    std::unique_ptr<NetworkingRequest> name(const QString& route,                                            \
                                            const QJsonObject& params = {}) requires IsClient {              \
        return network().makeRequest(method, route, params);                                                 \
    }                                                                                                        \
    rx::Publisher<QByteArray> verb##DataPublisher(const QString& route, const QJsonObject& params = {}) {    \
        return dataPublisher(network(), method, route, params);                                              \
    }                                                                                                        \
    rx::Publisher<rx::Void> verb##VoidPublisher(const QString& route, const QJsonObject& params = {}) {      \
        return voidPublisher(network(), method, route, params);                                              \
    }                                                                                                        \
    rx::Publisher<QJsonValue> verb##JSONPublisher(const QString& route, const QJsonObject& params = {}) {    \
        return jsonPublisher(network(), method, route, params);                                              \
    }                                                                                                        \
    template <typename T>                                                                                    \
    rx::Publisher<T> verb##ModelPublisher(const QString& route, const QJsonObject& params = {},              \
                                          const std::optional<QString>& keyPath = std::nullopt) {            \
        return modelPublisher<T>(network(), method, route, params, keyPath);                                 \
    }                                                                                                        \
    template <typename T>                                                                                    \
    rx::Publisher<std::vector<T>> verb##ModelsPublisher(                                                     \
        const QString& route, const QJsonObject& params = {},                                                \
        const std::optional<QString>& keyPath = std::nullopt) {                                              \
        return modelsPublisher<T>(network(), method, route, params, keyPath);                                \
    }                                                                                                        \
    template <typename T>                                                                                    \
    rx::Publisher<T> verb##DecodablePublisher(const QString& route, const QJsonObject& params = {},          \
                                              const std::optional<QString>& keyPath = std::nullopt) {        \
        return decodablePublisher<T>(network(), method, route, params, keyPath);                             \
    }                                                                                                        \
    template <typename T>                                                                                    \
    rx::Publisher<T> verb##CollectionPublisher(const QString& route, const QJsonObject& params = {},         \
                                               const std::optional<QString>& keyPath = std::nullopt) {       \
        return collectionPublisher<T>(network(), method, route, params, keyPath);                            \
    }                                                                                                        \
    QCoro::Task<QByteArray> verb##Data(QString route, QJsonObject params = {}) {                             \
        return data(network(), method, std::move(route), std::move(params));                                 \
    }                                                                                                        \
    QCoro::Task<void> verb##Void(QString route, QJsonObject params = {}) {                                   \
        return voidResult(network(), method, std::move(route), std::move(params));                           \
    }                                                                                                        \
    QCoro::Task<QJsonValue> verb##JSON(QString route, QJsonObject params = {}) {                             \
        return json(network(), method, std::move(route), std::move(params));                                 \
    }                                                                                                        \
    template <typename T>                                                                                    \
    QCoro::Task<T> name(QString route, QJsonObject params = {},                                              \
                        std::optional<QString> keyPath = std::nullopt) {                                     \
        return decodable<T>(network(), method, std::move(route), std::move(params), std::move(keyPath));     \
    }                                                                                                        \
    template <typename T>                                                                                    \
    QCoro::Task<T> verb##Collection(QString route, QJsonObject params = {},                                  \
                                    std::optional<QString> keyPath = std::nullopt) {                         \
        return collection<T>(network(), method, std::move(route), std::move(params), std::move(keyPath));    \
    }

#define QUORVALE_UPLOAD_OPERATIONS(verb, method)                                                             \
    rx::Publisher<DataWithProgress> verb##UploadPublisher(const QString& route, const QJsonObject& params,   \
                                                          const MultipartData& part) requires IsClient {     \
        return uploadPublisher(network(), method, route, params, {part});                                    \
    }                                                                                                        \
    rx::Publisher<DataWithProgress> verb##UploadPublisher(                                                   \
        const QString& route, const QJsonObject& params,                                                     \
        const std::vector<MultipartData>& parts) requires IsClient {                                         \
        return uploadPublisher(network(), method, route, params, parts);                                     \
    }

template <typename Holder> class NetworkingOperations {
public:
    static constexpr bool IsClient = std::is_same_v<Holder, NetworkingClient>;

    QUORVALE_VERB_OPERATIONS(get, get, HTTPMethod::get)
    QUORVALE_VERB_OPERATIONS(post, post, HTTPMethod::post)
    QUORVALE_VERB_OPERATIONS(put, put, HTTPMethod::put)
    QUORVALE_VERB_OPERATIONS(patch, patch, HTTPMethod::patch)
    QUORVALE_VERB_OPERATIONS(delete_, delete, HTTPMethod::delete_)
    QUORVALE_UPLOAD_OPERATIONS(post, HTTPMethod::post)
    QUORVALE_UPLOAD_OPERATIONS(put, HTTPMethod::put)
    QUORVALE_UPLOAD_OPERATIONS(patch, HTTPMethod::patch)

private:
    decltype(auto) network() { return static_cast<Holder&>(*this).network(); }

    // The result kinds, once for every verb, on the client that the operation read from network().

    // Three tries at most when the client has a retrier; values on the main thread.
    template <typename Client>
    static rx::Publisher<QByteArray> dataPublisher(Client& client, HTTPMethod method, const QString& route,
                                                   const QJsonObject& params) {
        const std::shared_ptr<NetworkingRequest> request = client.makeRequest(method, route, params);
        return request->publisher(request->maxRetryCount);
    }

    template <typename Client>
    static rx::Publisher<rx::Void> voidPublisher(Client& client, HTTPMethod method, const QString& route,
                                                 const QJsonObject& params) {
        return dataPublisher(client, method, route, params).map([](const QByteArray&) { return rx::Void{}; });
    }

    template <typename Client>
    static rx::Publisher<QJsonValue> jsonPublisher(Client& client, HTTPMethod method, const QString& route,
                                                   const QJsonObject& params) {
        return toJSON(dataPublisher(client, method, route, params));
    }

    template <typename T, typename Client>
    static rx::Publisher<T> modelPublisher(Client& client, HTTPMethod method, const QString& route,
                                           const QJsonObject& params, const std::optional<QString>& keyPath) {
        return decodingPublisher(
            client, method, route, params, keyPath,
            [](Client& c, const auto& json, const auto& path) { return c.template toModel<T>(json, path); });
    }

    template <typename T, typename Client>
    static rx::Publisher<std::vector<T>> modelsPublisher(Client& client, HTTPMethod method,
                                                         const QString& route, const QJsonObject& params,
                                                         const std::optional<QString>& keyPath) {
        return decodingPublisher(
            client, method, route, params, collectionKeyPath(client, keyPath),
            [](Client& c, const auto& json, const auto& path) { return c.template toModels<T>(json, path); });
    }

    template <typename T, typename Client>
    static rx::Publisher<T> decodablePublisher(Client& client, HTTPMethod method, const QString& route,
                                               const QJsonObject& params,
                                               const std::optional<QString>& keyPath) {
        return decodingPublisher(
            client, method, route, params, keyPath,
            [](Client& c, const auto& json, const auto& path) { return c.template decode<T>(json, path); });
    }

    template <typename T, typename Client>
    static rx::Publisher<T> collectionPublisher(Client& client, HTTPMethod method, const QString& route,
                                                const QJsonObject& params,
                                                const std::optional<QString>& keyPath) {
        return decodablePublisher<T>(client, method, route, params, collectionKeyPath(client, keyPath));
    }

    // The async kinds: no retries; the request lives for the one call. The client outlives its calls.
    template <typename Client>
    static QCoro::Task<QByteArray> data(Client& client, HTTPMethod method, QString route,
                                        QJsonObject params) {
        const std::unique_ptr<NetworkingRequest> request = client.makeRequest(method, route, params);
        co_return co_await request->execute();
    }

    template <typename Client>
    static QCoro::Task<void> voidResult(Client& client, HTTPMethod method, QString route,
                                        QJsonObject params) {
        co_await data(client, method, std::move(route), std::move(params));
    }

    template <typename Client>
    static QCoro::Task<QJsonValue> json(Client& client, HTTPMethod method, QString route,
                                        QJsonObject params) {
        co_return networking_detail::parseReply(
            co_await data(client, method, std::move(route), std::move(params)));
    }

    template <typename T, typename Client>
    static QCoro::Task<T> decodable(Client& client, HTTPMethod method, QString route, QJsonObject params,
                                    std::optional<QString> keyPath) {
        const QJsonValue reply = co_await json(client, method, std::move(route), std::move(params));
        co_return client.template decode<T>(reply, keyPath);
    }

    template <typename T, typename Client>
    static QCoro::Task<T> collection(Client& client, HTTPMethod method, QString route, QJsonObject params,
                                     std::optional<QString> keyPath) {
        return decodable<T>(client, method, std::move(route), std::move(params),
                            collectionKeyPath(client, keyPath));
    }

    // Multipart upload with progress: no retries, no JSON step.
    template <typename Client>
    static rx::Publisher<DataWithProgress> uploadPublisher(Client& client, HTTPMethod method,
                                                           const QString& route, const QJsonObject& params,
                                                           std::vector<MultipartData> parts) {
        const std::shared_ptr<NetworkingRequest> request = client.makeRequest(method, route, params);
        request->multipartData = std::move(parts);
        return request->publisherWithProgress();
    }

    // Lists and collections fall back to the client's default member, as it is when the call is made.
    template <typename Client>
    static std::optional<QString> collectionKeyPath(const Client& client,
                                                    const std::optional<QString>& keyPath) {
        return keyPath ? keyPath : client.defaultCollectionParsingKeyPath;
    }

    // The reply as JSON, then `decode(client, json, keyPath)`, then a further hop onto the main thread. The
    // step holds the client weakly: one released while its reply was on the way fails the stream.
    template <typename Client, typename Decode>
    static auto decodingPublisher(Client& client, HTTPMethod method, const QString& route,
                                  const QJsonObject& params, std::optional<QString> keyPath, Decode decode) {
        return jsonPublisher(client, method, route, params)
            .tryMap([weak = QPointer<Client>(&client), keyPath = std::move(keyPath),
                     decode](const QJsonValue& json) {
                if (!weak)
                    networking_detail::throwClientGone();
                return decode(*weak, json, keyPath);
            })
            .receiveOnMainThread();
    }
};

#undef QUORVALE_VERB_OPERATIONS
#undef QUORVALE_UPLOAD_OPERATIONS

// For any type that holds a client: derive from NetworkingService<Self> and provide
// `NetworkingClient& network()`. Every operation reads network() once when it is called.
template <typename Adopter> using NetworkingService = NetworkingOperations<Adopter>;
