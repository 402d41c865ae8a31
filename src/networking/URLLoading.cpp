#include "URLLoading.h"

#include "HttpTransport.h"
#include "NetworkingError.h"

#include <QHostAddress>
#include <QNetworkInterface>

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

constexpr int maximumRedirects = 16;

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

bool isHttp(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

int defaultPort(const QUrl& url) {
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80;
}

bool sameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort(a)) == b.port(defaultPort(b));
}

// Where a redirect reply sends the request; nothing for any other reply.
std::optional<QUrl> redirectTarget(const URLLoadResult& result) {
    const int status = result.response.statusCode.value_or(0);
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
        return std::nullopt;
    for (const auto& [name, value] : result.response.headerFields)
        if (name.compare("Location", Qt::CaseInsensitive) == 0 && !value.isEmpty())
            return result.response.url.resolved(QUrl::fromEncoded(value));
    return std::nullopt;
}

// 303, and 301 or 302 after a POST, fetch the new place with a GET; 307 and 308 repeat the request as it was.
void followRedirect(URLRequest& request, int status, const QUrl& target) {
    const QString method = request.httpMethod.value_or(QStringLiteral("GET"));
    if ((status == 303 && method != QLatin1String("HEAD")) ||
        ((status == 301 || status == 302) && method == QLatin1String("POST"))) {
        request.httpMethod = QStringLiteral("GET");
        request.httpBody.reset();
        request.allHTTPHeaderFields.removeIf([](const QPair<QString, QString>& field) {
            return field.first.compare(QLatin1String("Content-Type"), Qt::CaseInsensitive) == 0;
        });
    }
    request.url = target;
}

} // namespace

void URLSession::setNetworkProbe(std::function<bool()> probe) {
    networkProbe() = std::move(probe);
}

void URLSessionTask::cancel() {
    m_cancelled = true;
    if (m_stopTransfer)
        m_stopTransfer(false);
}

void URLSessionTask::cancelNow() {
    m_cancelled = true;
    if (m_stopTransfer)
        m_stopTransfer(true);
}

URLSessionTasks::~URLSessionTasks() {
    cancelAll();
}

std::shared_ptr<URLSessionTask> URLSessionTasks::makeTask() {
    std::erase_if(m_tasks, [](const std::weak_ptr<URLSessionTask>& task) { return task.expired(); });
    auto task = std::make_shared<URLSessionTask>();
    m_tasks.push_back(task);
    return task;
}

void URLSessionTasks::cancelAll() {
    // Each caller resumes inside cancelNow() and may end other transfers, or ask for new ones, meanwhile.
    while (!m_tasks.empty()) {
        const std::vector<std::weak_ptr<URLSessionTask>> tasks = std::exchange(m_tasks, {});
        for (const std::weak_ptr<URLSessionTask>& weak : tasks)
            if (const std::shared_ptr<URLSessionTask> task = weak.lock())
                task->cancelNow();
    }
}

QCoro::Task<URLLoadResult> URLSession::data(URLRequest request, SessionConfiguration configuration,
                                            std::shared_ptr<URLSessionTask> task) {
    if (!request.url.isValid() || request.url.isRelative())
        throw URLError(URLError::badURL);
    if (!isHttp(request.url))
        throw URLError(URLError::unsupportedURL, request.url.scheme());
    const QUrl origin = request.url;
    for (int redirects = 0;; ++redirects) {
        URLLoadResult result;
        try {
            result = co_await HttpTransport::shared().exchange(request, configuration, task);
        } catch (const URLError& error) {
            // Without a network the resolver only says it found no host; the flows tell the user they are
            // offline.
            const int code = error.code();
            if ((code == URLError::cannotFindHost || code == URLError::cannotConnectToHost ||
                 code == URLError::timedOut) &&
                !isLoopback(request.url.host()) && !networkIsUp())
                throw URLError(URLError::notConnectedToInternet, error.detail());
            throw;
        }
        const std::optional<QUrl> target = redirectTarget(result);
        if (!target)
            co_return result;
        // The request (signed, or carrying an activation code) never goes to a server it was not meant for.
        if (!target->isValid() || !sameOrigin(*target, origin))
            throw URLError(
                URLError::badServerResponse,
                QStringLiteral("redirect to another server refused: %1")
                    .arg(target->toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)));
        if (redirects >= maximumRedirects)
            throw URLError(URLError::httpTooManyRedirects);
        followRedirect(request, *result.response.statusCode, *target);
    }
}
