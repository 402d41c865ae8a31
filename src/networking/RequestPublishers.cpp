// The publisher paths of NetworkingRequest and the retry hook that NetworkingClient gives its requests.

#include "NetworkingClient.h"
#include "NetworkingError.h"
#include "NetworkingRequest.h"

#include <QCoroTask>

namespace {

using ProgressHandler = std::function<void(qint64 totalBytesSent, qint64 totalBytesExpectedToSend)>;

class TransferCancellation final : public rx::Cancellable {
public:
    explicit TransferCancellation(std::shared_ptr<URLSessionTask> task)
        : m_task(std::move(task)) {}
    void cancel() override { m_task->cancel(); }

private:
    std::shared_ptr<URLSessionTask> m_task;
};

using Loader = std::function<QCoro::Task<URLLoadResult>(URLRequest, SessionConfiguration,
                                                        std::shared_ptr<URLSessionTask>)>;

QCoro::Task<> runTransfer(std::weak_ptr<rx::Subscriber<URLLoadResult>> subscriber, Loader load,
                          URLRequest request, SessionConfiguration configuration,
                          std::shared_ptr<URLSessionTask> task, std::function<void()> onEnd) {
    try {
        URLLoadResult result = co_await load(std::move(request), std::move(configuration), task);
        if (auto s = subscriber.lock()) {
            s->receive(result);
            s->complete();
        }
    } catch (...) {
        if (auto s = subscriber.lock())
            s->complete(std::current_exception());
    }
    if (onEnd)
        onEnd();
}

// One transfer per subscription, started on subscribe; `onEnd` runs after the result was delivered.
rx::Publisher<URLLoadResult> transferPublisher(Loader load, URLRequest request,
                                               SessionConfiguration configuration,
                                               ProgressHandler onProgress = {},
                                               std::function<void()> onEnd = {}) {
    return rx::Publisher<URLLoadResult>([=](const rx::SubscriberPtr<URLLoadResult>& subscriber) {
        auto task = std::make_shared<URLSessionTask>();
        task->didSendBodyData = onProgress;
        subscriber->setUpstream(std::make_shared<TransferCancellation>(task));
        // Runs on by itself; the subscriber is held weakly, so a cancelled subscription gets nothing.
        runTransfer(subscriber, load, request, configuration, task, onEnd);
    });
}

void sendProgress(const rx::PassthroughSubject<Progress>& subject, qint64 sent, qint64 total) {
    subject.send(Progress{total, sent});
}

NetworkingError asNetworkingError(const rx::Error& error) {
    return NetworkingError::fromError(error);
}

} // namespace

// The closures of a stream hold the request itself when it is shared-owned (`keepAlive`); otherwise its
// owner keeps it alive while the stream runs, as it does for execute().
struct NetworkingRequest::StreamParts {
    static Loader loader(NetworkingRequest* request, std::shared_ptr<NetworkingRequest> keepAlive) {
        return [request, keepAlive = std::move(keepAlive)](URLRequest urlRequest,
                                                           SessionConfiguration configuration,
                                                           std::shared_ptr<URLSessionTask> task) {
            return request->load(std::move(urlRequest), std::move(configuration), std::move(task));
        };
    }

    static auto validation(NetworkingRequest* request, std::shared_ptr<NetworkingRequest> keepAlive) {
        return [request, keepAlive = std::move(keepAlive)](const URLLoadResult& result) {
            return request->validate(result.data, result.response);
        };
    }
};

namespace {} // namespace

QCoro::Task<URLLoadResult> NetworkingRequest::load(URLRequest request, SessionConfiguration configuration,
                                                   std::shared_ptr<URLSessionTask> task) {
    return URLSession::data(std::move(request), std::move(configuration), std::move(task));
}

void NetworkingRequest::didSendBodyData(qint64 totalBytesSent, qint64 totalBytesExpectedToSend) {
    sendProgress(progressPublisher, totalBytesSent, totalBytesExpectedToSend);
}

rx::Publisher<QByteArray> NetworkingRequest::publisher() {
    return publisher(maxRetryCount);
}

rx::Publisher<QByteArray> NetworkingRequest::publisher(int retriesLeft) {
    const std::optional<URLRequest> urlRequest = makeURLRequest();
    if (!urlRequest)
        return rx::fail<QByteArray>(NetworkingError::unableToParseRequest);
    logger.log(*urlRequest);

    // Like a session keeping its delegate, the stream keeps a shared-owned request alive until it ends,
    // so that it is still there to be retried.
    const std::shared_ptr<NetworkingRequest> self = weak_from_this().lock();
    const QPointer<NetworkingRequest> weakSelf(this);
    const auto configuration = sessionConfiguration.value_or(SessionConfiguration::defaultConfiguration());
    return transferPublisher(StreamParts::loader(this, self), *urlRequest, configuration)
        .tryMap(StreamParts::validation(this, self))
        .catchError([weakSelf, retriesLeft,
                     failed = *urlRequest](const rx::Error& error) -> rx::Publisher<QByteArray> {
            if (weakSelf && retriesLeft > 1 && weakSelf->requestRetrier) {
                if (auto retry = weakSelf->requestRetrier(failed, error))
                    return retry->flatMap([weakSelf, retriesLeft, error](rx::Void) {
                        return weakSelf ? weakSelf->publisher(retriesLeft - 1) : rx::fail<QByteArray>(error);
                    });
            }
            std::rethrow_exception(error);
        })
        .mapError(asNetworkingError)
        .receiveOnMainThread();
}

rx::Publisher<DataWithProgress> NetworkingRequest::publisherWithProgress() {
    const std::optional<URLRequest> urlRequest = makeURLRequest();
    if (!urlRequest)
        return rx::fail<DataWithProgress>(NetworkingError::unableToParseRequest);
    logger.log(*urlRequest);

    const std::shared_ptr<NetworkingRequest> self = weak_from_this().lock();
    const auto configuration = sessionConfiguration.value_or(SessionConfiguration::defaultConfiguration());
    const rx::PassthroughSubject<Progress> progress = progressPublisher;
    // The progress subject ends with the transfer, so the merged stream finishes after the reply
    // instead of staying open until its subscriber gives up.
    auto reply = transferPublisher(
                     StreamParts::loader(this, self), *urlRequest, configuration,
                     [progress](qint64 sent, qint64 total) { sendProgress(progress, sent, total); },
                     [progress] { progress.sendCompletion(); })
                     .tryMap(StreamParts::validation(this, self))
                     .mapError(asNetworkingError)
                     .map([](const QByteArray& data) {
                         return DataWithProgress{data, Progress{}};
                     });
    auto uploads = progress.eraseToAnyPublisher().map([](const Progress& p) {
        return DataWithProgress{std::nullopt, p};
    });
    return rx::merge(reply, uploads).receiveOnMainThread();
}

std::optional<rx::Publisher<rx::Void>>
NetworkingClient::retryPublisher(const QPointer<NetworkingRequest>& request, const URLRequest& failed,
                                 const rx::Error& error) {
    if (!requestRetrier)
        return std::nullopt;
    std::optional<rx::Publisher<rx::Void>> retry = requestRetrier(failed, error);
    if (!retry)
        return std::nullopt;
    // The retrier may have renewed the client's configuration (headers, say): copy it in before each retry.
    return retry->map([client = QPointer<NetworkingClient>(this), request](rx::Void value) {
        if (client && request)
            client->configure(*request);
        return value;
    });
}
