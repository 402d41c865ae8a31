// Medians of one sign-in approval (the code, then the second code) through HomeViewModel against the
// identity-service double on loopback, each beside its floor measured in the same run:
//   - the approval: two bare libcurl posts with the client's headers, bodies and connection policy (each on
//     a connection of its own, never reused) and two OpenSSL signatures with a key loaded once;
//   - the first approval of a session on the keyring, which reads the key once: that floor plus one bare
//     libsecret lookup;
//   - one signature as the flow makes it on the signed-in user's key: OpenSSL's signing alone.
// It runs with the in-memory key store, and with the desktop keyring when a Secret Service answers (run it
// through scripts/with-keyring.sh). The double runs on a thread of its own so that the bare posts can block.
// The program's own console lines and network log stay on standard output, as in the program; the figures
// go to standard error:
//   scripts/with-keyring.sh build/release/bench/approval_bench [samples=200] > /dev/null

// GLib headers use names that Qt defines as macros, so they come first.
#include "platform/DeviceKeySchema_p.h"

#include "api/Repository.h"
#include "app/AppViewModel.h"
#include "flows/HomeViewModel.h"
#include "flows/RequestSigner.h"
#include "networking/NetworkingClient.h"
#include "platform/BundleInfo.h"
#include "platform/CrashReporting.h"
#include "platform/MemoryKeyStore.h"
#include "platform/SecretServiceKeyStore.h"
#include "storage/AppLogger.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "support/IdentityServiceDouble.h"
#include "support/ManualClock.h"
#include "support/SignatureCheckingService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <qcoro/qcorotask.h>

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace {

QTextStream out(stderr);

class NoReports final : public CrashReporter {
public:
    void log(const QString&) override {}
    void setCustomValue(const QString&, const QString&) override {}
    void record(const ExceptionModel&) override {}
};

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const size_t mid = times.size() / 2;
    return times.size() % 2 ? times[mid] : (times[mid - 1] + times[mid]) / 2;
}

double elapsedMs(const std::function<void()>& run) {
    QElapsedTimer timer;
    timer.start();
    run();
    return double(timer.nsecsElapsed()) / 1e6;
}

void report(const QString& what, double ms, double floorMs, const QString& floorName) {
    out << qSetFieldWidth(48) << Qt::left << what << qSetFieldWidth(0)
        << QStringLiteral("%1 ms   floor %2 ms (%3)   ratio %4\n")
               .arg(ms, 8, 'f', 3)
               .arg(floorMs, 8, 'f', 3)
               .arg(floorName)
               .arg(ms / floorMs, 0, 'f', 2);
    out.flush();
}

// Waits on the event loop until `done` holds; a benchmark may spin the loop, the program never does.
void spinUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// One POST as the client's transport makes it, minus the client: the same headers and body, HTTP/1.1, a
// connection of its own that is never reused.
class BarePost {
public:
    BarePost(QByteArray url, QByteArray body, const ReceivedRequest& asSent)
        : m_url(std::move(url))
        , m_body(std::move(body)) {
        for (const auto& [name, value] : asSent.headers) {
            if (name.compare("host", Qt::CaseInsensitive) == 0 ||
                name.compare("content-length", Qt::CaseInsensitive) == 0)
                continue;
            m_headers.reset(curl_slist_append(m_headers.release(), (name + ": " + value).constData()));
        }
        m_headers.reset(curl_slist_append(m_headers.release(), "Expect:"));
    }

    bool run() const {
        std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
        QByteArray reply;
        curl_easy_setopt(easy.get(), CURLOPT_URL, m_url.constData());
        curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
        curl_easy_setopt(easy.get(), CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_body.size()));
        curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, m_body.constData());
        curl_easy_setopt(easy.get(), CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(easy.get(), CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, m_headers.get());
        curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &BarePost::collect);
        curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &reply);
        long status = 0;
        const bool ok = curl_easy_perform(easy.get()) == CURLE_OK &&
                        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK;
        return ok && status == 200 && !reply.isEmpty();
    }

private:
    static size_t collect(char* data, size_t size, size_t count, void* target) {
        static_cast<QByteArray*>(target)->append(data, qsizetype(size * count));
        return size * count;
    }

    QByteArray m_url;
    QByteArray m_body;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> m_headers{nullptr, &curl_slist_free_all};
};

// OpenSSL's own signing with a key parsed once: the floor of a signature.
class BareSigner {
public:
    explicit BareSigner(const SecureBytes& der) {
        const unsigned char* cursor = der.data();
        m_key.reset(d2i_AutoPrivateKey(nullptr, &cursor, long(der.size())));
    }
    bool valid() const { return bool(m_key); }

    bool sign(const QByteArray& message) const {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        unsigned char signature[512];
        size_t length = sizeof(signature);
        return EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, m_key.get()) == 1 &&
               EVP_DigestSign(ctx.get(), signature, &length,
                              reinterpret_cast<const unsigned char*>(message.constData()),
                              size_t(message.size())) == 1;
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key{nullptr, &EVP_PKEY_free};
};

// A bare lookup of the device key in the keyring, under the attributes the client's store uses.
bool bareKeyringLookup(const QByteArray& tagUtf8) {
    GError* error = nullptr;
    SecretValue* value = secret_password_lookup_binary_sync(devicekeyschema::schema(), nullptr, &error,
                                                            "application-tag", tagUtf8.constData(),
                                                            "key-type", devicekeyschema::keyType, nullptr);
    const bool found = value && !error;
    if (value)
        secret_value_unref(value);
    if (error)
        g_error_free(error);
    return found;
}

struct Figures {
    double approval = 0, approvalFloor = 0;
    double firstApproval = 0, firstApprovalFloor = 0;
    double signature = 0, signatureFloor = 0;
};

bool runBackend(const QString& name, const std::shared_ptr<KeyStore>& keys, bool keyring, int samples,
                IdentityServiceDouble& service, Figures& figures) {
    KeyChain::setKeyStore(keys);

    AuthResponse user;
    user.suid = QStringLiteral("S-1");
    user.zid = QStringLiteral("Z-") + name;
    user.email = QStringLiteral("alice@example.com");
    user.displayEmail = user.email;
    user.orgCode = QStringLiteral("ORG1");
    user.primaryAttr = QStringLiteral("P-") + name;
    user.pin = KeyChain::sha256Hex(QStringLiteral("135792"));
    const QString tag = *user.primaryAttr + QStringLiteral("||") + *user.pin;
    const auto pair = KeyChain::getOrCreateKeyPair(tag);
    const std::optional<SecureBytes> der = keys->find(tag);
    if (!pair || !der) {
        out << name << ": no device key\n";
        return false;
    }
    CoreDataManager::shared().saveAuthResponse(user);

    // The double and its checks live on the server's thread; they are touched only there.
    std::unique_ptr<SignatureCheckingService> checks;
    const QString pem = *KeyChain::publicKeyString(pair->publicKey);
    QMetaObject::invokeMethod(
        &service,
        [&] {
            checks = std::make_unique<SignatureCheckingService>(service);
            checks->registerKey(*user.zid, pem);
        },
        Qt::BlockingQueuedConnection);

    NetworkingClient client(service.baseURL());
    client.parameterEncoding = ParameterEncoding::json;
    // The program logs its traffic at debug, to standard output.
    client.setLogLevel(NetworkingLogLevel::debug);
    Repository repository(client);
    ManualClock clock;
    AppViewModel appViewModel(nullptr, clock);
    appViewModel.setTestMode(true);
    appViewModel.authDetails = user;
    appViewModel.markSignedIn();
    HomeViewModel home(&repository, appViewModel, clock);

    const auto approve = [&] {
        QCoro::waitFor(home.verifyDid(QStringLiteral("abc123")));
        home.verifyCode(QStringLiteral("4821"));
        spinUntil([&] { return home.showSucces.get(); });
    };
    // The banner's end resets the screen for the next approval, outside the measured time.
    const auto settle = [&] { clock.advance(2s); };

    // The first approval records what the client sends, for the bare posts to send the same.
    QList<ReceivedRequest> sent;
    QMetaObject::invokeMethod(
        &service,
        [&] {
            service.clearReceived();
            service.setRecording(true);
        },
        Qt::BlockingQueuedConnection);
    approve();
    settle();
    QMetaObject::invokeMethod(
        &service,
        [&] {
            sent = service.received();
            service.setRecording(false);
        },
        Qt::BlockingQueuedConnection);
    if (sent.size() != 2) {
        out << name << ": the approval sent " << sent.size() << " requests\n";
        return false;
    }
    const QByteArray base = service.baseURL().toUtf8();
    const BarePost verifyPost(base + sent[0].path.toUtf8(), sent[0].body, sent[0]);
    const BarePost codePost(base + sent[1].path.toUtf8(), sent[1].body, sent[1]);
    const BareSigner bareSigner(*der);
    if (!bareSigner.valid() || !verifyPost.run() || !codePost.run()) {
        out << name << ": the bare floor does not work\n";
        return false;
    }
    const QByteArray firstMessage = "S-1||Z-1||ABC123||ORG1";
    const QByteArray secondMessage = "S-1||Z-1||ABC123||4821||ORG1";

    // Interleaved, so that drift in the machine's load hits figure and floor alike.
    const auto bareApproval = [&] {
        bareSigner.sign(firstMessage);
        verifyPost.run();
        bareSigner.sign(secondMessage);
        codePost.run();
    };
    std::vector<double> flow, floor;
    for (int i = 0; i < samples; ++i) {
        flow.push_back(elapsedMs(approve));
        settle();
        floor.push_back(elapsedMs(bareApproval));
    }
    figures.approval = median(flow);
    figures.approvalFloor = median(floor);
    if (keyring) {
        std::vector<double> first, firstFloor;
        for (int i = 0; i < samples; ++i) {
            // A new session: its first approval reads the key from the keyring again.
            appViewModel.markSignedIn();
            first.push_back(elapsedMs(approve));
            settle();
            firstFloor.push_back(elapsedMs([&] {
                bareKeyringLookup(tag.toUtf8());
                bareApproval();
            }));
        }
        figures.firstApproval = median(first);
        figures.firstApprovalFloor = median(firstFloor);
    }

    std::vector<double> signing, bareSigning;
    const QString message = QString::fromLatin1(firstMessage);
    for (int i = 0; i < samples * 5; ++i) {
        signing.push_back(elapsedMs([&] {
            auto signature = RequestSigner::sign(user, message);
            if (!signature.isReady())
                QCoro::waitFor(std::move(signature));
        }));
        bareSigning.push_back(elapsedMs([&] { bareSigner.sign(firstMessage); }));
    }
    figures.signature = median(signing);
    figures.signatureFloor = median(bareSigning);

    bool verified = false;
    QMetaObject::invokeMethod(
        &service,
        [&] {
            verified = checks->allVerified() && !checks->checks().isEmpty();
            checks.reset();
        },
        Qt::BlockingQueuedConnection);
    if (!verified) {
        out << name << ": a signature failed the service's check\n";
        return false;
    }
    appViewModel.logout();
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    CrashReporter::setShared(std::make_shared<NoReports>());
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int samples = std::max(1, argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 200);

    QTemporaryDir dir;
    PersistentContainer::Options options;
    options.storePath = dir.filePath(QStringLiteral("QVModel.sqlite"));
    CoreDataManager::configure(options);
    AppLogger::configure({std::nullopt, dir.filePath(QStringLiteral("Logs/quorvaleapp.log"))});

    QThread serverThread;
    serverThread.start();
    auto* service = new IdentityServiceDouble;
    service->moveToThread(&serverThread);
    bool listening = false;
    QMetaObject::invokeMethod(
        service,
        [&] {
            listening = service->start();
            service->setReply(
                QStringLiteral("/api/v1/verify/did"),
                ScriptedReply::json(
                    200, json({{"errorCode", 0}, {"resultCode", 0}, {"org", "ORG1"}, {"ttl", 60}})));
            service->setReply(QStringLiteral("/api/v1/verify/validationCode"),
                              ScriptedReply::json(
                                  200, json({{"errorCode", 0}, {"resultCode", 0}, {"message", "Approved"}})));
        },
        Qt::BlockingQueuedConnection);
    if (!listening) {
        out << "cannot listen on loopback\n";
        return 1;
    }

    out << "Approval on loopback (" << service->baseURL() << "), " << samples << " samples each\n";
    int status = 0;
    Figures memory;
    if (runBackend(QStringLiteral("memory"), std::make_shared<MemoryKeyStore>(), false, samples, *service,
                   memory)) {
        report(QStringLiteral("approval, in-memory keys"), memory.approval, memory.approvalFloor,
               QStringLiteral("2 bare posts + 2 OpenSSL signatures"));
        report(QStringLiteral("signature as the flow makes it, loaded key"), memory.signature,
               memory.signatureFloor, QStringLiteral("OpenSSL signing"));
    } else {
        status = 1;
    }
    if (SecretServiceKeyStore::isAvailable()) {
        Figures keyring;
        if (runBackend(QStringLiteral("keyring"), std::make_shared<SecretServiceKeyStore>(), true, samples,
                       *service, keyring)) {
            report(QStringLiteral("approval, keyring, after the session's first"), keyring.approval,
                   keyring.approvalFloor, QStringLiteral("2 bare posts + 2 OpenSSL signatures"));
            report(QStringLiteral("first approval of a session, keyring"), keyring.firstApproval,
                   keyring.firstApprovalFloor, QStringLiteral("the same + 1 bare libsecret lookup"));
            report(QStringLiteral("signature as the flow makes it, keyring"), keyring.signature,
                   keyring.signatureFloor, QStringLiteral("OpenSSL signing"));
        } else {
            status = 1;
        }
        KeyChain::keyStore()->remove(QStringLiteral("P-keyring||") +
                                     KeyChain::sha256Hex(QStringLiteral("135792")));
    } else {
        out << "keyring: no Secret Service reachable, skipped (run through scripts/with-keyring.sh)\n";
    }

    QMetaObject::invokeMethod(
        service, [service] { delete service; }, Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();
    curl_global_cleanup();
    return status;
}
