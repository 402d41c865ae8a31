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

#define QUORVALE_VERB_OPERATIONS(name, verb, method)                                                              \
    std::unique_ptr<NetworkingRequest> name(const QString& route, const QJsonObject& params = {})                 \
        requires IsClient                                                                                         \
    {                                                                                                             \
        return network().makeRequest(method, route, params);                                                      \
    }                                                                                                             \
    rx::Publisher<QByteArray> verb##DataPublisher(const QString& route, const QJsonObject& params = {}) {         \
        return dataPublisher(method, route, params);                                                              \
    }                                                                                                             \
    rx::Publisher<rx::Void> verb##VoidPublisher(const QString& route, const QJsonObject& params = {}) {           \
        return voidPublisher(method, route, params);                                                              \
    }                                                                                                             \
    rx::Publisher<QJsonValue> verb##JSONPublisher(const QString& route, const QJsonObject& params = {}) {         \
        return jsonPublisher(method, route, params);                                                              \
    }                                                                                                             \
    template <typename T>                                                                                         \
    rx::Publisher<T> verb##ModelPublisher(const QString& route, const QJsonObject& params = {},                   \
                                          const std::optional<QString>& keyPath = std::nullopt) {                 \
        return modelPublisher<T>(method, route, params, keyPath);                                                 \
    }                                                                                                             \
    template <typename T>                                                                                         \
    rx::Publisher<std::vector<T>> verb##ModelsPublisher(const QString& route, const QJsonObject& params = {},     \
                                                        const std::optional<QString>& keyPath = std::nullopt) {   \
        return modelsPublisher<T>(method, route, params, keyPath);                                                \
    }                                                                                                             \
    template <typename T>                                                                                         \
    rx::Publisher<T> verb##DecodablePublisher(const QString& route, const QJsonObject& params = {},               \
                                              const std::optional<QString>& keyPath = std::nullopt) {             \
        return decodablePublisher<T>(method, route, params, keyPath);                                             \
    }                                                                                                             \
    template <typename T>                                                                                         \
    rx::Publisher<T> verb##CollectionPublisher(const QString& route, const QJsonObject& params = {},              \
                                               const std::optional<QString>& keyPath = std::nullopt) {            \
        return collectionPublisher<T>(method, route, params, keyPath);                                            \
    }                                                                                                             \
    QCoro::Task<QByteArray> verb##Data(QString route, QJsonObject params = {}) {                                  \
        return data(method, std::move(route), std::move(params));                                                 \
    }                                                                                                             \
    QCoro::Task<void> verb##Void(QString route, QJsonObject params = {}) {                                        \
        return voidResult(method, std::move(route), std::move(params));                                           \
    }                                                                                                             \
    QCoro::Task<QJsonValue> verb##JSON(QString route, QJsonObject params = {}) {                                  \
        return json(method, std::move(route), std::move(params));                                                 \
    }                                                                                                             \
    template <typename T>                                                                                         \
    QCoro::Task<T> name(QString route, QJsonObject params = {}, std::optional<QString> keyPath = std::nullopt) {  \
        return decodable<T>(method, std::move(route), std::move(params), std::move(keyPath));                     \
    }                                                                                                             \
    template <typename T>                                                                                         \
    QCoro::Task<T> verb##Collection(QString route, QJsonObject params = {},                                       \
                                    std::optional<QString> keyPath = std::nullopt) {                              \
        return collection<T>(method, std::move(route), std::move(params), std::move(keyPath));                    \
    }

#define QUORVALE_UPLOAD_OPERATIONS(verb, method)                                                                  \
    rx::Publisher<DataWithProgress> verb##UploadPublisher(const QString& route, const QJsonObject& params,        \
                                                          const MultipartData& part)                              \
        requires IsClient                                                                                         \
    {                                                                                                             \
        return uploadPublisher(method, route, params, {part});                                                    \
    }                                                                                                             \
    rx::Publisher<DataWithProgress> verb##UploadPublisher(const QString& route, const QJsonObject& params,        \
                                                          const std::vector<MultipartData>& parts)                \
        requires IsClient                                                                                         \
    {                                                                                                             \
        return uploadPublisher(method, route, params, parts);                                                     \
    }

template <typename Holder>
class NetworkingOperations {
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

    // The result kinds, once for every verb.

    // Three tries at most when the client has a retrier; values on the main thread.
    rx::Publisher<QByteArray> dataPublisher(HTTPMethod method, const QString& route, const QJsonObject& params) {
        const std::shared_ptr<NetworkingRequest> request = network().makeRequest(method, route, params);
        return request->publisher(request->maxRetryCount);
    }

    rx::Publisher<rx::Void> voidPublisher(HTTPMethod method, const QString& route, const QJsonObject& params) {
        return dataPublisher(method, route, params).map([](const QByteArray&) { return rx::Void{}; });
    }

    rx::Publisher<QJsonValue> jsonPublisher(HTTPMethod method, const QString& route, const QJsonObject& params) {
        return toJSON(dataPublisher(method, route, params));
    }

    template <typename T>
    rx::Publisher<T> modelPublisher(HTTPMethod method, const QString& route, const QJsonObject& params,
                                    const std::optional<QString>& keyPath) {
        return decodingPublisher(method, route, params, [client = clientPointer(), keyPath](const QJsonValue& json) {
            return live(client)->template toModel<T>(json, keyPath);
        });
    }

    template <typename T>
    rx::Publisher<std::vector<T>> modelsPublisher(HTTPMethod method, const QString& route, const QJsonObject& params,
                                                  const std::optional<QString>& keyPath) {
        return decodingPublisher(method, route, params,
                                 [client = clientPointer(), keyPath = collectionKeyPath(keyPath)](const QJsonValue& json) {
                                     return live(client)->template toModels<T>(json, keyPath);
                                 });
    }

    template <typename T>
    rx::Publisher<T> decodablePublisher(HTTPMethod method, const QString& route, const QJsonObject& params,
                                        const std::optional<QString>& keyPath) {
        return decodingPublisher(method, route, params, [client = clientPointer(), keyPath](const QJsonValue& json) {
            return live(client)->template decode<T>(json, keyPath);
        });
    }

    template <typename T>
    rx::Publisher<T> collectionPublisher(HTTPMethod method, const QString& route, const QJsonObject& params,
                                         const std::optional<QString>& keyPath) {
        return decodablePublisher<T>(method, route, params, collectionKeyPath(keyPath));
    }

    // No retries on the async path; the request lives for the one call.
    QCoro::Task<QByteArray> data(HTTPMethod method, QString route, QJsonObject params) {
        const std::unique_ptr<NetworkingRequest> request = network().makeRequest(method, route, params);
        co_return co_await request->execute();
    }

    QCoro::Task<void> voidResult(HTTPMethod method, QString route, QJsonObject params) {
        co_await data(method, std::move(route), std::move(params));
    }

    QCoro::Task<QJsonValue> json(HTTPMethod method, QString route, QJsonObject params) {
        co_return networking_detail::parseReply(co_await data(method, std::move(route), std::move(params)));
    }

    template <typename T>
    QCoro::Task<T> decodable(HTTPMethod method, QString route, QJsonObject params, std::optional<QString> keyPath) {
        const auto client = clientPointer();
        const QJsonValue reply = co_await json(method, std::move(route), std::move(params));
        co_return live(client)->template decode<T>(reply, keyPath);
    }

    template <typename T>
    QCoro::Task<T> collection(HTTPMethod method, QString route, QJsonObject params, std::optional<QString> keyPath) {
        return decodable<T>(method, std::move(route), std::move(params), collectionKeyPath(keyPath));
    }

    // Multipart upload with progress: no retries, no JSON step.
    rx::Publisher<DataWithProgress> uploadPublisher(HTTPMethod method, const QString& route, const QJsonObject& params,
                                                    std::vector<MultipartData> parts)
        requires IsClient
    {
        const std::shared_ptr<NetworkingRequest> request = network().makeRequest(method, route, params);
        request->multipartData = std::move(parts);
        return request->publisherWithProgress();
    }

private:
    decltype(auto) network() { return static_cast<Holder&>(*this).network(); }

    auto clientPointer() {
        using Client = std::remove_reference_t<decltype(network())>;
        return QPointer<Client>(&network());
    }

    template <typename Client>
    static Client* live(const QPointer<Client>& client) {
        if (!client)
            networking_detail::throwClientGone();
        return client.data();
    }

    // Lists and collections fall back to the client's default member, as it is when the call is made.
    std::optional<QString> collectionKeyPath(const std::optional<QString>& keyPath) {
        return keyPath ? keyPath : network().defaultCollectionParsingKeyPath;
    }

    // The reply as JSON, decoded by `decode`, then a further hop onto the main thread.
    template <typename Decode>
    auto decodingPublisher(HTTPMethod method, const QString& route, const QJsonObject& params, Decode decode) {
        return jsonPublisher(method, route, params).tryMap(std::move(decode)).receiveOnMainThread();
    }
};

#undef QUORVALE_VERB_OPERATIONS
#undef QUORVALE_UPLOAD_OPERATIONS

// For any type that holds a client: derive from NetworkingService<Self> and provide
// `NetworkingClient& network()`. Every operation reads network() once when it is called.
template <typename Adopter>
using NetworkingService = NetworkingOperations<Adopter>;
