#include "URLLoading.h"

#include "NetworkingError.h"
#include "platform/CertificatePinning.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <QCoroNetworkReply>

#include <limits>
#include <memory>

void URLRequest::setValue(const QString& value, const QString& field) {
    for (auto& entry : allHTTPHeaderFields) {
        if (entry.first.compare(field, Qt::CaseInsensitive) == 0) {
            entry.second = value;
            return;
        }
    }
    allHTTPHeaderFields.append({field, value});
}

std::optional<QString> URLRequest::value(const QString& field) const {
    for (const auto& entry : allHTTPHeaderFields)
        if (entry.first.compare(field, Qt::CaseInsensitive) == 0)
            return entry.second;
    return std::nullopt;
}

namespace {

struct DeleteLater {
    void operator()(QObject* object) const { object->deleteLater(); }
};

int sslErrorCode(const QList<QSslError>& errors) {
    for (const QSslError& e : errors) {
        switch (e.error()) {
        case QSslError::CertificateExpired:
            return URLError::serverCertificateHasBadDate;
        case QSslError::CertificateNotYetValid:
            return URLError::serverCertificateNotYetValid;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::CertificateUntrusted:
            return URLError::serverCertificateHasUnknownRoot;
        default:
            break;
        }
    }
    return errors.isEmpty() ? URLError::secureConnectionFailed : URLError::serverCertificateUntrusted;
}

// Transport failures are the network-layer and proxy errors; content, protocol and server errors come with
// an HTTP status and are replies.
bool isTransportError(QNetworkReply::NetworkError error) {
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

bool isLoopback(const QString& host) {
    const QHostAddress address(host);
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           (!address.isNull() && address.isLoopback());
}

std::function<bool()>& networkProbe() {
    static std::function<bool()> probe;
    return probe;
}

// Some interface other than loopback is up and has an address.
bool networkIsUp() {
    if (networkProbe())
        return networkProbe()();
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        if (!interface.addressEntries().isEmpty())
            return true;
    }
    return false;
}

QList<QSslCertificate> verifiedChain(const QNetworkReply& reply) {
    const QSslConfiguration ssl = reply.sslConfiguration();
    return PinningPolicy::withTrustAnchor(ssl.peerCertificateChain(), ssl.caCertificates());
}

} // namespace

int URLSession::errorCode(QNetworkReply::NetworkError error, const QList<QSslError>& sslErrors) {
    switch (error) {
    case QNetworkReply::NoError:
        return 0;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::UnknownProxyError:
        return URLError::cannotConnectToHost;
    case QNetworkReply::RemoteHostClosedError:
        return URLError::networkConnectionLost;
    case QNetworkReply::HostNotFoundError:
        return URLError::cannotFindHost;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return URLError::timedOut;
    case QNetworkReply::OperationCanceledError:
        return URLError::cancelled;
    case QNetworkReply::SslHandshakeFailedError:
        return sslErrorCode(sslErrors);
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
        return URLError::notConnectedToInternet;
    case QNetworkReply::TooManyRedirectsError:
        return URLError::httpTooManyRedirects;
    case QNetworkReply::InsecureRedirectError:
        return URLError::transportSecurityRequireSecureConnection;
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::AuthenticationRequiredError:
        return URLError::userAuthenticationRequired;
    case QNetworkReply::ProtocolUnknownError:
        return URLError::unsupportedURL;
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::ProtocolFailure:
    case QNetworkReply::UnknownServerError:
        return URLError::badServerResponse;
    default:
        return URLError::unknown;
    }
}

void URLSession::setNetworkProbe(std::function<bool()> probe) {
    networkProbe() = std::move(probe);
}

QNetworkAccessManager& URLSession::sharedManager() {
    // One manager per run keeps connections alive between calls; it dies with the application object.
    // Deleted before the application object tears down the TLS backend its connections still use.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager;
        manager->setAutoDeleteReplies(false);
        qAddPostRoutine([] { delete manager.data(); });
    }
    return *manager;
}

void URLSessionTask::cancel() {
    m_cancelled = true;
    if (m_reply && !m_reply->isFinished())
        m_reply->abort();
}

QCoro::Task<URLLoadResult> URLSession::data(URLRequest request, SessionConfiguration configuration,
                                            std::shared_ptr<URLSessionTask> task) {
    if (!request.url.isValid() || request.url.isRelative())
        throw URLError(URLError::badURL);

    QNetworkRequest networkRequest(request.url);
    for (const auto& [name, value] : std::as_const(request.allHTTPHeaderFields))
        networkRequest.setRawHeader(name.toUtf8(), value.toUtf8());
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::NoLessSafeRedirectPolicy);
    if (configuration.sslConfiguration)
        networkRequest.setSslConfiguration(*configuration.sslConfiguration);

    const QByteArray method = request.httpMethod.value_or(QStringLiteral("GET")).toUtf8();
    QNetworkAccessManager& manager = sharedManager();
    std::unique_ptr<QNetworkReply, DeleteLater> reply(
        request.httpBody ? manager.sendCustomRequest(networkRequest, method, *request.httpBody)
                         : manager.sendCustomRequest(networkRequest, method));

    struct State {
        QByteArray body;
        int abortCode = 0;
        QString detail;
        QList<QSslError> sslErrors;
    };
    auto state = std::make_shared<State>();
    QNetworkReply* r = reply.get();
    const qint64 limit = configuration.maximumResponseBytes;
    const QString host = request.url.host();
    const PinningPolicy pinning = PinningPolicy::shared();

    auto abortWith = [r, state](int code, const QString& detail) {
        if (state->abortCode == 0) {
            state->abortCode = code;
            state->detail = detail;
        }
        r->abort();
    };
    auto drain = [r, state, limit, abortWith] {
        while (state->abortCode == 0 && r->bytesAvailable() > 0) {
            const qint64 room = limit - state->body.size();
            const QByteArray chunk = r->read(std::min<qint64>(room + 1, 64 * 1024));
            if (chunk.size() > room) {
                abortWith(URLError::dataLengthExceedsMaximum,
                          QStringLiteral("reply larger than %1 bytes").arg(limit));
                return;
            }
            state->body += chunk;
        }
    };

    r->setReadBufferSize(256 * 1024);
    auto* idle = new QTimer(r);
    idle->setSingleShot(true);
    // The timer counts in int milliseconds; a longer timeout waits as long as the timer can instead of
    // wrapping round to a short one.
    const double timeoutMilliseconds = request.timeoutInterval * 1000.0;
    idle->setInterval(timeoutMilliseconds >= double(std::numeric_limits<int>::max())
                          ? std::numeric_limits<int>::max()
                          : timeoutMilliseconds >= 1.0 ? static_cast<int>(timeoutMilliseconds) : 1);
    QObject::connect(idle, &QTimer::timeout, r, [abortWith, request] {
        abortWith(URLError::timedOut, QStringLiteral("no progress for %1 s").arg(request.timeoutInterval));
    });
    QObject::connect(r, &QNetworkReply::uploadProgress, idle, qOverload<>(&QTimer::start));
    QObject::connect(r, &QNetworkReply::downloadProgress, idle, qOverload<>(&QTimer::start));
    QObject::connect(r, &QNetworkReply::readyRead, r, drain);
    QObject::connect(r, &QNetworkReply::metaDataChanged, r, [r, limit, abortWith] {
        bool ok = false;
        const qint64 announced = r->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
        if (ok && announced > limit)
            abortWith(URLError::dataLengthExceedsMaximum,
                      QStringLiteral("announced %1 bytes").arg(announced));
    });
    QObject::connect(r, &QNetworkReply::sslErrors, r,
                     [state](const QList<QSslError>& errors) { state->sslErrors = errors; });
    // Checked before the request goes out on a new connection, and again on the finished reply below,
    // because a kept-alive connection does not announce itself again.
    // The reply's URL is the one being fetched now, after any redirect.
    QObject::connect(r, &QNetworkReply::encrypted, r, [r, pinning, abortWith] {
        const QString current = r->url().host();
        if (pinning.evaluate(current, verifiedChain(*r)) == PinningPolicy::Verdict::rejected)
            abortWith(URLError::serverCertificateUntrusted,
                      QStringLiteral("no pinned key for %1").arg(current));
    });
    if (task) {
        task->m_reply = r;
        QObject::connect(r, &QNetworkReply::uploadProgress, r, [task](qint64 sent, qint64 total) {
            if (task->didSendBodyData && total > 0)
                task->didSendBodyData(sent, total);
        });
        if (task->m_cancelled)
            r->abort();
    }
    idle->start();

    if (!r->isFinished())
        co_await r;
    idle->stop();
    drain();

    if (state->abortCode != 0)
        throw URLError(state->abortCode, state->detail);
    const QNetworkReply::NetworkError error = r->error();
    const QVariant status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (isTransportError(error) || (error != QNetworkReply::NoError && !status.isValid())) {
        int code = errorCode(error, state->sslErrors);
        // Without a network the resolver only says it found no host; the flows tell the user they are
        // offline.
        if ((code == URLError::cannotFindHost || code == URLError::cannotConnectToHost ||
             code == URLError::timedOut) &&
            !isLoopback(host) && !networkIsUp())
            code = URLError::notConnectedToInternet;
        throw URLError(code, r->errorString());
    }
    if (r->url().scheme() == QLatin1String("https") &&
        pinning.evaluate(r->url().host(), verifiedChain(*r)) == PinningPolicy::Verdict::rejected)
        throw URLError(URLError::serverCertificateUntrusted,
                       QStringLiteral("no pinned key for %1").arg(r->url().host()));

    URLLoadResult result;
    result.data = std::move(state->body);
    result.response.url = r->url();
    if (status.isValid()) {
        result.response.statusCode = status.toInt();
        result.response.headerFields = r->rawHeaderPairs();
    }
    co_return result;
}
