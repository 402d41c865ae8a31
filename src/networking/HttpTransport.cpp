#include "HttpTransport.h"

#include "NetworkingError.h"
#include "ReplyHeaderFields.h"
#include "platform/CertificatePinning.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <coroutine>
#include <limits>
#include <map>
#include <memory>
#include <unordered_map>

namespace {

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct X509Deleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};

struct X509StoreDeleter {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};

using X509StorePointer = std::unique_ptr<X509_STORE, X509StoreDeleter>;

X509StorePointer sharedStore(X509_STORE* store) {
    X509_STORE_up_ref(store);
    return X509StorePointer(store);
}

// A set of extra trusted authorities, with the system's ones beside them in the form verification takes
// them in. Reading the system's authorities costs far more than the rest of a handshake, so this list is
// made once per set and handed to every handshake that carries it; libcurl's own store, shared by all
// connections, never sees the extra ones.
struct ExtraTrust {
    QList<QByteArray> roots; // DER
    X509StorePointer base;
    STACK_OF(X509)* trusted = nullptr;

    explicit ExtraTrust(const QList<QByteArray>& extraRoots)
        : roots(extraRoots) {}
    ExtraTrust(const ExtraTrust&) = delete;
    ExtraTrust& operator=(const ExtraTrust&) = delete;
    ~ExtraTrust() { sk_X509_pop_free(trusted, X509_free); }

    STACK_OF(X509) * trustedWith(X509_STORE* system) {
        // libcurl reads the system's authorities again once its store has aged; the list follows.
        if (trusted && base.get() == system)
            return trusted;
        sk_X509_pop_free(trusted, X509_free);
        trusted = sk_X509_new_null();
        if (!trusted)
            return nullptr;
        STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(system);
        for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
            X509* certificate = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
            if (certificate && X509_up_ref(certificate) == 1 && sk_X509_push(trusted, certificate) <= 0)
                X509_free(certificate);
        }
        for (const QByteArray& der : std::as_const(roots)) {
            const auto* cursor = reinterpret_cast<const unsigned char*>(der.constData());
            X509* root = d2i_X509(nullptr, &cursor, der.size());
            if (root && sk_X509_push(trusted, root) <= 0)
                X509_free(root);
        }
        base = sharedStore(system);
        return trusted;
    }
};

// How a connection's handshake failed, for the error of the transfer that opened it. libcurl's own
// verification result is a placeholder until verification has run, and it cannot tell a peer that hung up
// from one that refused us.
struct HandshakeOutcome {
    long certificateError = X509_V_OK; // why verification refused the chain, once it ran and did
    bool cutShort = false;             // the peer closed or reset the connection before the handshake ended
};

// What the certificate check of one connection needs. Owned by that connection's TLS context, so it lives
// exactly as long as the handshakes it serves, whatever becomes of the transfer that opened it.
struct TrustCheck {
    QString host;
    PinningPolicy pinning;
    std::shared_ptr<ExtraTrust> extraTrust; // none: the system's authorities only
    std::shared_ptr<HandshakeOutcome> outcome;
};

int trustCheckIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr,
                                                      [](void*, void* check, CRYPTO_EX_DATA*, int, long,
                                                         void*) { delete static_cast<TrustCheck*>(check); });
    return index;
}

// Whether the host's pins refuse the chain. `chain` must be the chain verification built, which ends at a
// trusted authority; certificates the server merely sent along are no part of it and count for nothing.
bool pinsRefuse(const PinningPolicy& pinning, const QString& host, STACK_OF(X509) * chain) {
    if (!pinning.domainFor(host))
        return false;
    QList<QByteArray> hashes;
    for (int i = 0; chain && i < sk_X509_num(chain); ++i) {
        unsigned char* der = nullptr;
        const int length = i2d_X509(sk_X509_value(chain, i), &der);
        if (length <= 0)
            continue;
        hashes.append(PinningPolicy::spkiSha256(QByteArray(reinterpret_cast<const char*>(der), length)));
        OPENSSL_free(der);
    }
    return pinning.evaluate(host, hashes) == PinningPolicy::Verdict::rejected;
}

// Replaces the handshake's certificate check: the usual verification, then the pins on what it built.
int verifyChain(X509_STORE_CTX* store, void* argument) {
    const auto& check = *static_cast<const TrustCheck*>(argument);
    if (check.extraTrust) {
        // Runs after libcurl has put the system's authorities in place, which its TLS-context hook does not.
        STACK_OF(X509)* trusted = check.extraTrust->trustedWith(X509_STORE_CTX_get0_store(store));
        if (!trusted)
            return 0;
        X509_STORE_CTX_set0_trusted_stack(store, trusted);
    }
    if (X509_verify_cert(store) != 1) {
        const int error = X509_STORE_CTX_get_error(store);
        check.outcome->certificateError = error != X509_V_OK ? error : X509_V_ERR_UNSPECIFIED;
        return 0;
    }
    if (pinsRefuse(check.pinning, check.host, X509_STORE_CTX_get0_chain(store))) {
        X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        check.outcome->certificateError = X509_V_ERR_APPLICATION_VERIFICATION;
        return 0;
    }
    return 1;
}

// Notes a handshake that ended because the connection under it did: the peer closed it (with or without
// telling) or reset it. Anything else that ends a handshake is a refusal by one side or the other.
void noteHandshakeEnd(const SSL* ssl, int where, int result) {
    if ((where & SSL_CB_EXIT) == 0 || result > 0)
        return;
    const auto* check =
        static_cast<const TrustCheck*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), trustCheckIndex()));
    if (!check)
        return;
    switch (SSL_get_error(ssl, result)) {
    case SSL_ERROR_SYSCALL:
    case SSL_ERROR_ZERO_RETURN:
        check->outcome->cutShort = true;
        break;
    case SSL_ERROR_SSL:
        check->outcome->cutShort =
            ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
        break;
    default: // still waiting for the network
        break;
    }
}

int verificationErrorCode(long verifyResult) {
    switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return URLError::serverCertificateHasBadDate;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return URLError::serverCertificateNotYetValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_CERT_UNTRUSTED:
        return URLError::serverCertificateHasUnknownRoot;
    default:
        return URLError::serverCertificateUntrusted;
    }
}

bool isIdempotent(const QByteArray& method) {
    return method == "GET" || method == "HEAD";
}

int timeoutMilliseconds(double seconds) {
    // The timer counts in int milliseconds; a longer timeout waits as long as the timer can instead of
    // wrapping round to a short one.
    const double milliseconds = seconds * 1000.0;
    if (milliseconds >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return milliseconds >= 1.0 ? static_cast<int>(milliseconds) : 1;
}

} // namespace

struct HttpTransport::Engine {
    struct Transfer;

    Engine();
    ~Engine();

    void start(Transfer& transfer);
    void abort(Transfer& transfer, int code, const QString& detail);
    // Ends the transfer as cancelled and resumes its caller before it returns.
    void cancelNow(Transfer& transfer);

    static int onSocket(CURL*, curl_socket_t socket, int what, void* engine, void*);
    static int onTimer(CURLM*, long milliseconds, void* engine);

    void watch(curl_socket_t socket, int what);
    void drive(curl_socket_t socket, int events);
    void collectFinished();
    void finish(Transfer& transfer, CURLcode result);

    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    CURLM* multi = nullptr;
    QObject context;
    QTimer timer;
    std::unordered_map<curl_socket_t, Watch> sockets;
    QSet<Transfer*> running;
    int liveTransfers = 0;
    // Inside curl_multi_socket_action, where no transfer may be removed.
    bool driving = false;

    std::map<QByteArray, std::shared_ptr<ExtraTrust>> extraTrusts; // by the authorities' DER, joined
    std::shared_ptr<ExtraTrust> extraTrustFor(const QList<QByteArray>& roots);
};

struct HttpTransport::Engine::Transfer : std::enable_shared_from_this<Transfer> {
    explicit Transfer(Engine& owner)
        : engine(owner) {
        ++engine.liveTransfers;
    }
    ~Transfer() {
        if (engine.running.remove(this))
            curl_multi_remove_handle(engine.multi, easy.get());
        --engine.liveTransfers;
    }

    void resumeWaiter() {
        if (const std::coroutine_handle<> handle = std::exchange(waiter, {}))
            handle.resume();
    }

    void fail(int code, const QString& detail) {
        if (abortCode == 0) {
            abortCode = code;
            abortDetail = detail;
        }
    }

    bool connectionPassesPins();
    bool contentIsAcceptable();

    static size_t onHeader(char* buffer, size_t size, size_t count, void* transfer);
    static size_t onBody(char* data, size_t size, size_t count, void* transfer);
    static int onProgress(void* transfer, curl_off_t, curl_off_t downloaded, curl_off_t uploadTotal,
                          curl_off_t uploaded);
    static CURLcode onTlsContext(CURL*, void* context, void* transfer);

    Engine& engine;
    std::unique_ptr<CURL, EasyDeleter> easy;
    std::unique_ptr<curl_slist, HeaderListDeleter> headers;
    QByteArray requestBody;
    QString host;
    bool secure = false;
    PinningPolicy pinning;
    QList<QByteArray> extraRoots; // DER
    std::shared_ptr<HandshakeOutcome> handshake = std::make_shared<HandshakeOutcome>();
    qint64 limit = 0;
    std::shared_ptr<URLSessionTask> task;
    QTimer idle;

    QByteArray body;
    ReplyHeaderFields headerFields;
    bool connectionChecked = false;
    curl_off_t uploadedSoFar = -1;
    curl_off_t downloadedSoFar = -1;
    int abortCode = 0;
    QString abortDetail;
    char errorText[CURL_ERROR_SIZE] = {};
    CURLcode result = CURLE_OK;
    bool done = false;
    std::coroutine_handle<> waiter;
};

namespace {

// Suspends the exchange until its transfer has finished.
template <typename Transfer> struct TransferEnd {
    Transfer& transfer;
    bool await_ready() const noexcept { return transfer.done; }
    void await_suspend(std::coroutine_handle<> handle) noexcept { transfer.waiter = handle; }
    void await_resume() const noexcept {}
};

} // namespace

HttpTransport::Engine::Engine() {
    multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Engine::onSocket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Engine::onTimer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &context, [this] { drive(CURL_SOCKET_TIMEOUT, 0); });
}

HttpTransport::Engine::~Engine() {
    for (Transfer* transfer : std::as_const(running))
        curl_multi_remove_handle(multi, transfer->easy.get());
    running.clear();
    curl_multi_cleanup(multi);
    for (auto& [socket, watch] : sockets) {
        delete watch.read;
        delete watch.write;
    }
}

int HttpTransport::Engine::onSocket(CURL*, curl_socket_t socket, int what, void* engine, void*) {
    static_cast<Engine*>(engine)->watch(socket, what);
    return 0;
}

int HttpTransport::Engine::onTimer(CURLM*, long milliseconds, void* engine) {
    // Never drives the transfers from in here: libcurl does not expect to be called back into.
    auto& self = *static_cast<Engine*>(engine);
    if (milliseconds < 0)
        self.timer.stop();
    else
        self.timer.start(int(std::min<long>(milliseconds, std::numeric_limits<int>::max())));
    return 0;
}

void HttpTransport::Engine::watch(curl_socket_t socket, int what) {
    // A notifier may be the one whose signal is running right now, so it is switched off and deleted later.
    auto drop = [](QSocketNotifier*& notifier) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
            notifier = nullptr;
        }
    };
    if (what == CURL_POLL_REMOVE) {
        auto it = sockets.find(socket);
        if (it != sockets.end()) {
            drop(it->second.read);
            drop(it->second.write);
            sockets.erase(it);
        }
        return;
    }
    Watch& entry = sockets[socket];
    auto set = [&](QSocketNotifier*& notifier, QSocketNotifier::Type type, bool wanted, int event) {
        if (!wanted) {
            if (notifier)
                notifier->setEnabled(false);
            return;
        }
        if (!notifier) {
            notifier = new QSocketNotifier(socket, type, &context);
            QObject::connect(notifier, &QSocketNotifier::activated, &context,
                             [this, socket, event] { drive(socket, event); });
        }
        notifier->setEnabled(true);
    };
    set(entry.read, QSocketNotifier::Read, what == CURL_POLL_IN || what == CURL_POLL_INOUT, CURL_CSELECT_IN);
    set(entry.write, QSocketNotifier::Write, what == CURL_POLL_OUT || what == CURL_POLL_INOUT,
        CURL_CSELECT_OUT);
}

void HttpTransport::Engine::drive(curl_socket_t socket, int events) {
    int stillRunning = 0;
    driving = true;
    curl_multi_socket_action(multi, socket, events, &stillRunning);
    driving = false;
    collectFinished();
}

void HttpTransport::Engine::collectFinished() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        Transfer* transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        const CURLcode result = message->data.result;
        if (transfer)
            finish(*transfer, result);
    }
}

void HttpTransport::Engine::start(Transfer& transfer) {
    running.insert(&transfer);
    transfer.idle.start();
    if (curl_multi_add_handle(multi, transfer.easy.get()) != CURLM_OK) {
        transfer.fail(URLError::unknown, QStringLiteral("the transfer could not be started"));
        finish(transfer, CURLE_FAILED_INIT);
    }
}

void HttpTransport::Engine::abort(Transfer& transfer, int code, const QString& detail) {
    if (transfer.done)
        return;
    transfer.fail(code, detail);
    finish(transfer, CURLE_ABORTED_BY_CALLBACK);
}

void HttpTransport::Engine::finish(Transfer& transfer, CURLcode result) {
    if (transfer.done)
        return;
    if (running.remove(&transfer))
        curl_multi_remove_handle(multi, transfer.easy.get());
    transfer.done = true;
    transfer.result = result;
    transfer.idle.stop();
    // Resumed from the event loop, never from inside the signal or the libcurl call that got here; by then
    // cancelNow() may have resumed it already.
    if (transfer.waiter)
        QMetaObject::invokeMethod(
            &context,
            [weak = transfer.weak_from_this()] {
                if (const auto finished = weak.lock())
                    finished->resumeWaiter();
            },
            Qt::QueuedConnection);
}

void HttpTransport::Engine::cancelNow(Transfer& transfer) {
    // Its caller is going away: a reply that is in but not handed over yet is not wanted either.
    transfer.abortCode = URLError::cancelled;
    transfer.abortDetail.clear();
    finish(transfer, CURLE_ABORTED_BY_CALLBACK);
    transfer.resumeWaiter();
}

bool HttpTransport::Engine::Transfer::connectionPassesPins() {
    // A kept-alive connection does not shake hands again, so every reply's connection is checked here too.
    if (!secure || !pinning.domainFor(host))
        return true;
    curl_tlssessioninfo* session = nullptr;
    if (curl_easy_getinfo(easy.get(), CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK || !session ||
        session->backend != CURLSSLBACKEND_OPENSSL || !session->internals) {
        fail(URLError::serverCertificateUntrusted,
             QStringLiteral("no TLS session to check for %1").arg(host));
        return false;
    }
    if (pinsRefuse(pinning, host, SSL_get0_verified_chain(static_cast<SSL*>(session->internals)))) {
        fail(URLError::serverCertificateUntrusted, QStringLiteral("no pinned key for %1").arg(host));
        return false;
    }
    return true;
}

bool HttpTransport::Engine::Transfer::contentIsAcceptable() {
    for (const auto& [name, value] : headerFields.fields()) {
        const QByteArray field = name.toLower();
        if (field == "content-length") {
            bool ok = false;
            const qint64 announced = value.toLongLong(&ok);
            if (ok && announced > limit) {
                fail(URLError::dataLengthExceedsMaximum, QStringLiteral("announced %1 bytes").arg(announced));
                return false;
            }
        } else if (field == "content-encoding" || field == "transfer-encoding") {
            // Only identity was asked for; chunked framing is libcurl's to undo.
            for (const QByteArray& coding : value.split(',')) {
                const QByteArray c = coding.trimmed().toLower();
                if (!c.isEmpty() && c != "identity" && !(field == "transfer-encoding" && c == "chunked")) {
                    fail(URLError::cannotDecodeContentData,
                         QStringLiteral("reply in %1 encoding").arg(QString::fromLatin1(c)));
                    return false;
                }
            }
        }
    }
    return true;
}

size_t HttpTransport::Engine::Transfer::onHeader(char* buffer, size_t size, size_t count, void* transfer) {
    auto& self = *static_cast<Transfer*>(transfer);
    const size_t length = size * count;
    self.idle.start();
    switch (self.headerFields.take(QByteArrayView(buffer, qsizetype(length)))) {
    case ReplyHeaderFields::Line::refused:
        self.fail(URLError::dataLengthExceedsMaximum,
                  QStringLiteral("header and trailer fields beyond %1 bytes").arg(self.headerFields.limit()));
        return 0;
    case ReplyHeaderFields::Line::statusLine:
        if (!self.connectionChecked) {
            self.connectionChecked = true;
            if (!self.connectionPassesPins())
                return 0;
        }
        return length;
    case ReplyHeaderFields::Line::end: {
        long status = 0;
        curl_easy_getinfo(self.easy.get(), CURLINFO_RESPONSE_CODE, &status);
        return status >= 200 && !self.contentIsAcceptable() ? 0 : length;
    }
    case ReplyHeaderFields::Line::field:
        break;
    }
    return length;
}

size_t HttpTransport::Engine::Transfer::onBody(char* data, size_t size, size_t count, void* transfer) {
    auto& self = *static_cast<Transfer*>(transfer);
    const size_t length = size * count;
    if (qint64(self.body.size()) + qint64(length) > self.limit) {
        self.fail(URLError::dataLengthExceedsMaximum,
                  QStringLiteral("reply larger than %1 bytes").arg(self.limit));
        return CURL_WRITEFUNC_ERROR;
    }
    self.body.append(data, qsizetype(length));
    return length;
}

int HttpTransport::Engine::Transfer::onProgress(void* transfer, curl_off_t, curl_off_t downloaded,
                                                curl_off_t uploadTotal, curl_off_t uploaded) {
    auto& self = *static_cast<Transfer*>(transfer);
    if (self.task && self.task->m_cancelled)
        return 1;
    if (downloaded == self.downloadedSoFar && uploaded == self.uploadedSoFar)
        return 0;
    const bool sentMore = uploaded != self.uploadedSoFar;
    self.downloadedSoFar = downloaded;
    self.uploadedSoFar = uploaded;
    self.idle.start();
    if (sentMore && uploadTotal > 0 && self.task && self.task->didSendBodyData)
        self.task->didSendBodyData(qint64(uploaded), qint64(uploadTotal));
    return 0;
}

std::shared_ptr<ExtraTrust> HttpTransport::Engine::extraTrustFor(const QList<QByteArray>& roots) {
    QByteArray key;
    for (const QByteArray& der : roots)
        key += QByteArray::number(der.size()) + ':' + der;
    std::shared_ptr<ExtraTrust>& entry = extraTrusts[key];
    if (!entry)
        entry = std::make_shared<ExtraTrust>(roots);
    return entry;
}

CURLcode HttpTransport::Engine::Transfer::onTlsContext(CURL*, void* context, void* transfer) {
    auto& self = *static_cast<Transfer*>(transfer);
    auto* tls = static_cast<SSL_CTX*>(context);
    // Our own floor, whatever the system's policy allows: TLS 1.2 or later, and security level 2, which
    // refuses keys and Diffie-Hellman groups under 2048 bits and SHA-1 signatures, also in the chain that
    // verification builds.
    if (SSL_CTX_set_min_proto_version(tls, TLS1_2_VERSION) != 1)
        return CURLE_SSL_CIPHER;
    SSL_CTX_set_security_level(tls, 2);
    auto check = std::make_unique<TrustCheck>(TrustCheck{
        self.host, self.pinning,
        self.extraRoots.isEmpty() ? nullptr : self.engine.extraTrustFor(self.extraRoots), self.handshake});
    if (SSL_CTX_set_ex_data(tls, trustCheckIndex(), check.get()) != 1)
        return CURLE_OUT_OF_MEMORY;
    SSL_CTX_set_cert_verify_callback(tls, &verifyChain, check.release());
    SSL_CTX_set_info_callback(tls, &noteHandshakeEnd);
    return CURLE_OK;
}

HttpTransport::HttpTransport()
    : m_engine(std::make_unique<Engine>()) {}

HttpTransport::~HttpTransport() = default;

int HttpTransport::liveTransfers() const {
    return m_engine->liveTransfers;
}

HttpTransport& HttpTransport::shared() {
    // Deleted before the application object goes, while the event dispatcher its notifiers use still exists.
    static HttpTransport* transport = nullptr;
    if (!transport) {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        transport = new HttpTransport;
        qAddPostRoutine([] {
            delete transport;
            transport = nullptr;
        });
    }
    return *transport;
}

int HttpTransport::errorCode(int transportCode, long certificateError, bool peerHungUp) {
    switch (transportCode) {
    case CURLE_OK:
        return 0;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return URLError::unsupportedURL;
    case CURLE_URL_MALFORMAT:
        return URLError::badURL;
    case CURLE_COULDNT_RESOLVE_HOST:
        return URLError::cannotFindHost;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return URLError::cannotConnectToHost;
    case CURLE_COULDNT_CONNECT:
        return peerHungUp ? URLError::networkConnectionLost : URLError::cannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT:
        return URLError::timedOut;
    case CURLE_ABORTED_BY_CALLBACK:
        return URLError::cancelled;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return URLError::networkConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return URLError::badServerResponse;
    case CURLE_BAD_CONTENT_ENCODING:
        return URLError::cannotDecodeContentData;
    case CURLE_FILESIZE_EXCEEDED:
        return URLError::dataLengthExceedsMaximum;
    case CURLE_TOO_MANY_REDIRECTS:
        return URLError::httpTooManyRedirects;
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR:
        return URLError::userAuthenticationRequired;
    case CURLE_PEER_FAILED_VERIFICATION:
        // A chain that verified can still name another host: libcurl checks the name itself.
        return certificateError != X509_V_OK ? verificationErrorCode(certificateError)
                                             : URLError::serverCertificateUntrusted;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return URLError::serverCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
        if (certificateError != X509_V_OK)
            return verificationErrorCode(certificateError);
        return peerHungUp ? URLError::networkConnectionLost : URLError::secureConnectionFailed;
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CLIENTCERT:
        return URLError::secureConnectionFailed;
    default:
        return URLError::unknown;
    }
}

QCoro::Task<URLLoadResult> HttpTransport::exchange(URLRequest request, SessionConfiguration configuration,
                                                   std::shared_ptr<URLSessionTask> task) {
    if (task && task->m_cancelled)
        throw URLError(URLError::cancelled);
    Engine& engine = *m_engine;
    auto transfer = std::make_shared<Engine::Transfer>(engine);
    Engine::Transfer& t = *transfer;
    t.easy.reset(curl_easy_init());
    if (!t.easy)
        throw URLError(URLError::unknown, QStringLiteral("no transfer handle"));
    CURL* easy = t.easy.get();
    t.host = request.url.host();
    t.secure = request.url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    t.pinning = PinningPolicy::shared();
    for (const QSslCertificate& root : std::as_const(configuration.extraTrustedRoots))
        t.extraRoots.append(root.toDer());
    t.limit = configuration.maximumResponseBytes;
    t.task = task;

    const QByteArray url = request.url.toEncoded();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorText);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Engine::Transfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Engine::Transfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Engine::Transfer::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
    // Every handshake is a full one, so verification, the floor and the pins see each connection's chain.
    curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Engine::Transfer::onTlsContext);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &t);
    // libcurl keeps the system's authorities in memory across connections only when they come from the
    // bundle alone; the directory beside it holds the same authorities, one file each.
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);

    const QByteArray method = request.httpMethod.value_or(QStringLiteral("GET")).toUtf8();
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method == "GET" && !request.httpBody) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        if (request.httpBody || method == "POST") {
            t.requestBody = request.httpBody.value_or(QByteArray());
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(t.requestBody.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, t.requestBody.constData());
        }
        if (method != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
    }
    // A connection verified with extra authorities would pass them on to whichever request reused it.
    if (!t.extraRoots.isEmpty())
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    if (!isIdempotent(method)) {
        // libcurl resends a request whose reused connection turns out closed; a connection of its own,
        // never reused, leaves nothing to resend on.
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    }

    curl_slist* headers = nullptr;
    for (const auto& [name, value] : std::as_const(request.allHTTPHeaderFields)) {
        const QByteArray field =
            value.isEmpty() ? name.toUtf8() + ';' : name.toUtf8() + ": " + value.toUtf8();
        headers = curl_slist_append(headers, field.constData());
    }
    if (!request.value(QStringLiteral("Accept-Encoding")))
        headers = curl_slist_append(headers, "Accept-Encoding: identity");
    // The body goes at once instead of waiting for a "100 Continue" the server may never send.
    headers = curl_slist_append(headers, "Expect:");
    t.headers.reset(headers);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);

    t.idle.setSingleShot(true);
    t.idle.setInterval(timeoutMilliseconds(request.timeoutInterval));
    QObject::connect(
        &t.idle, &QTimer::timeout, &engine.context, [&engine, &t, seconds = request.timeoutInterval] {
            engine.abort(t, URLError::timedOut, QStringLiteral("no progress for %1 s").arg(seconds));
        });
    if (task) {
        task->m_stopTransfer = [weak = std::weak_ptr<Engine::Transfer>(transfer)](bool now) {
            const auto stopped = weak.lock();
            if (!stopped)
                return;
            Engine& owner = stopped->engine;
            if (now && !owner.driving) {
                owner.cancelNow(*stopped);
                return;
            }
            // Cancelling may happen inside a progress handler, that is inside libcurl: the transfer stops
            // from the event loop.
            QMetaObject::invokeMethod(
                &owner.context,
                [weak] {
                    if (const auto later = weak.lock())
                        later->engine.abort(*later, URLError::cancelled, {});
                },
                Qt::QueuedConnection);
        };
    }

    engine.start(t);
    co_await TransferEnd<Engine::Transfer>{t};

    if (t.abortCode != 0)
        throw URLError(t.abortCode, t.abortDetail);
    if (t.result != CURLE_OK) {
        // A server that accepts and resets at once can do so before libcurl has seen its connection made.
        long osErrno = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
        const bool hungUp = t.handshake->cutShort || osErrno == ECONNRESET;
        const QString detail = t.errorText[0] != '\0' ? QString::fromUtf8(t.errorText)
                                                      : QString::fromUtf8(curl_easy_strerror(t.result));
        throw URLError(errorCode(t.result, t.handshake->certificateError, hungUp), detail);
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status <= 0)
        throw URLError(URLError::badServerResponse, QStringLiteral("no status line"));

    URLLoadResult result;
    result.data = std::move(t.body);
    result.response.url = request.url;
    result.response.statusCode = int(status);
    result.response.headerFields = t.headerFields.takeFields();
    co_return result;
}
