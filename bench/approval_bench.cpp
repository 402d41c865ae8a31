// Medians of one sign-in approval (the code, then the second code) through HomeViewModel against the
// identity-service double on loopback, over plain HTTP and over HTTPS with the development certificates
// (the shipped client always uses HTTPS, and there the handshakes dominate), each beside its floor
// measured in the same run:
//   - the approval: two bare libcurl posts with the client's headers, bodies and connection policy
//     (BarePost.h: a connection of its own per post, never reused; over HTTPS a full handshake each, the
//     server verified against the development authority) and two OpenSSL signatures with a key loaded once;
//   - the first approval of a session on the keyring, which reads the key once: that floor plus one bare
//     libsecret lookup;
//   - one signature as the flow makes it on the signed-in user's key: OpenSSL's signing alone.
// It runs with the in-memory key store, and with the desktop keyring when a Secret Service answers (run it
// through scripts/with-keyring.sh). The double runs on a thread of its own so that the bare posts can block.
// The development certificates are the ones scripts/dev-certificates.sh makes in the build folder. The
// program's own console lines and network log stay on standard output, as in the program; the figures go to
// standard error:
//   scripts/with-keyring.sh build/dev-release/bench/approval_bench [samples=200] > /dev/null

// GLib headers use names that Qt defines as macros, so they come first.
#include "platform/DeviceKeySchema_p.h"

#include "BarePost.h"
#include "api/DevelopmentTrust.h"
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
#include <QFile>
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
    out << qSetFieldWidth(54) << Qt::left << what << qSetFieldWidth(0)
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

// One way to the service: its double, the session the client uses for it as the program makes it, and the
// authority the floor verifies the server against (none over plain HTTP).
struct Transport {
    QString name;
    IdentityServiceDouble* service = nullptr;
    SessionConfiguration session;
    QString authorityFile;
};

struct ApprovalFigures {
    double approval = 0, approvalFloor = 0;
    double firstApproval = 0, firstApprovalFloor = 0;
};

struct Figures {
    std::vector<ApprovalFigures> approvals; // by transport
    double signature = 0, signatureFloor = 0;
};

bool measureApprovals(const QString& name, const Transport& transport, const AuthResponse& user,
                      const QString& tag, const QString& publicKeyPem, const SecureBytes& der, bool keyring,
                      int samples, ApprovalFigures& figures) {
    IdentityServiceDouble& service = *transport.service;
    const QString label = name + QStringLiteral(", ") + transport.name;
    // The double and its checks live on the server's thread; they are touched only there.
    std::unique_ptr<SignatureCheckingService> checks;
    QMetaObject::invokeMethod(
        &service,
        [&] {
            checks = std::make_unique<SignatureCheckingService>(service);
            checks->registerKey(*user.zid, publicKeyPem);
        },
        Qt::BlockingQueuedConnection);

    NetworkingClient client(service.baseURL());
    client.parameterEncoding = ParameterEncoding::json;
    client.sessionConfiguration = transport.session;
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
    const QList<ReceivedRequest> sent = recordSent(service, [&] {
        approve();
        settle();
    });
    if (sent.size() != 2) {
        out << label << ": the approval sent " << sent.size() << " requests\n";
        return false;
    }
    const QByteArray base = service.baseURL().toUtf8();
    BarePost verifyPost(base + sent[0].path.toUtf8(), sent[0].body, sent[0], transport.authorityFile);
    BarePost codePost(base + sent[1].path.toUtf8(), sent[1].body, sent[1], transport.authorityFile);
    const BareSigner bareSigner(der);
    if (!bareSigner.valid() || !verifyPost.run() || !codePost.run()) {
        out << label << ": the bare floor does not work\n";
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

    bool verified = false;
    QMetaObject::invokeMethod(
        &service,
        [&] {
            verified = checks->allVerified() && !checks->checks().isEmpty();
            checks.reset();
        },
        Qt::BlockingQueuedConnection);
    appViewModel.logout();
    if (!verified)
        out << label << ": a signature failed the service's check\n";
    return verified;
}

bool runBackend(const QString& name, const std::shared_ptr<KeyStore>& keys, bool keyring, int samples,
                const std::vector<Transport>& transports, Figures& figures) {
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
    // Stored as an enrolment stores its user: the record names its key.
    user.keyTag = tag;
    user.keyIdentity = KeyChain::keyIdentity(pair->publicKey);
    CoreDataManager::shared().saveAuthResponse(user);
    const QString pem = *KeyChain::publicKeyString(pair->publicKey);

    figures.approvals.assign(transports.size(), {});
    for (size_t i = 0; i < transports.size(); ++i) {
        if (!measureApprovals(name, transports[i], user, tag, pem, *der, keyring, samples,
                              figures.approvals[i]))
            return false;
    }

    const BareSigner bareSigner(*der);
    const QByteArray message = "S-1||Z-1||ABC123||ORG1";
    std::vector<double> signing, bareSigning;
    for (int i = 0; i < samples * 5; ++i) {
        signing.push_back(elapsedMs([&] {
            auto signature = RequestSigner::sign(user, QString::fromLatin1(message));
            if (!signature.isReady())
                QCoro::waitFor(std::move(signature));
        }));
        bareSigning.push_back(elapsedMs([&] { bareSigner.sign(message); }));
    }
    figures.signature = median(signing);
    figures.signatureFloor = median(bareSigning);
    return true;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void reportBackend(const QString& name, bool keyring, const std::vector<Transport>& transports,
                   const Figures& figures) {
    const QString floorName = QStringLiteral("2 bare posts + 2 OpenSSL signatures");
    for (size_t i = 0; i < transports.size(); ++i) {
        const ApprovalFigures& f = figures.approvals[i];
        const QString over = QStringLiteral(", ") + transports[i].name;
        if (keyring) {
            report(QStringLiteral("approval, keyring, after the session's first") + over, f.approval,
                   f.approvalFloor, floorName);
            report(QStringLiteral("first approval of a session, keyring") + over, f.firstApproval,
                   f.firstApprovalFloor, QStringLiteral("the same + 1 bare libsecret lookup"));
        } else {
            report(QStringLiteral("approval, ") + name + over, f.approval, f.approvalFloor, floorName);
        }
    }
    report(QStringLiteral("signature as the flow makes it, ") +
               (keyring ? name : QStringLiteral("loaded key")),
           figures.signature, figures.signatureFloor, QStringLiteral("OpenSSL signing"));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    CrashReporter::setShared(std::make_shared<NoReports>());
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int samples = std::max(1, argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 200);

    const QString certificates = QStringLiteral(QUORVALE_DEV_CERTIFICATES);
    const QString authorityFile = certificates + QStringLiteral("/ca.pem");
    const QSslCertificate serverCertificate(readFile(certificates + QStringLiteral("/server.pem")),
                                            QSsl::Pem);
    const QSslKey serverKey(readFile(certificates + QStringLiteral("/server.key")), QSsl::Rsa, QSsl::Pem);
    const QList<QSslCertificate> authority = DevelopmentTrust::readAuthority(authorityFile);
    if (serverCertificate.isNull() || serverKey.isNull() || authority.isEmpty()) {
        out << "No development certificates in " << certificates
            << "; make them first:\n  bash scripts/dev-certificates.sh " << certificates << "\n";
        return 1;
    }

    QTemporaryDir dir;
    PersistentContainer::Options options;
    options.storePath = dir.filePath(QStringLiteral("QVModel.sqlite"));
    CoreDataManager::configure(options);
    AppLogger::configure({std::nullopt, dir.filePath(QStringLiteral("Logs/quorvaleapp.log"))});

    QThread serverThread;
    serverThread.start();
    auto* plain = new IdentityServiceDouble;
    auto* secure = new IdentityServiceDouble;
    bool listening = true;
    for (IdentityServiceDouble* service : {plain, secure}) {
        service->moveToThread(&serverThread);
        QMetaObject::invokeMethod(
            service,
            [&, service] {
                if (service == secure)
                    service->useTls(serverCertificate, serverKey);
                listening = service->start() && listening;
                service->setReply(
                    QStringLiteral("/api/v1/verify/did"),
                    ScriptedReply::json(
                        200, json({{"errorCode", 0}, {"resultCode", 0}, {"org", "ORG1"}, {"ttl", 60}})));
                service->setReply(
                    QStringLiteral("/api/v1/verify/validationCode"),
                    ScriptedReply::json(
                        200, json({{"errorCode", 0}, {"resultCode", 0}, {"message", "Approved"}})));
            },
            Qt::BlockingQueuedConnection);
    }
    if (!listening) {
        out << "cannot listen on loopback\n";
        return 1;
    }

    // The development trust as a development build makes it for its API host: the development authority
    // beside the system's roots, for that host alone.
    const QString secureBase = secure->baseURL();
    const BuildConfiguration development(
        QVariantMap{{QStringLiteral("Configuration"), QStringLiteral("Debug(Development)")}},
        BundleInfo::ApiHosts{secureBase, secureBase, secureBase, secureBase, secureBase},
        secureBase.mid(QStringLiteral("https://").size()));
    const DevelopmentTrust trust(development, authority);
    const std::vector<Transport> transports{
        {QStringLiteral("HTTP"), plain, SessionConfiguration::defaultConfiguration(), {}},
        {QStringLiteral("HTTPS"), secure, trust.sessionConfiguration(QUrl(secureBase)), authorityFile}};
    if (transports[1].session.extraTrustedRoots.isEmpty()) {
        out << "the development trust does not cover " << secureBase << "\n";
        return 1;
    }

    out << "Approval on loopback (" << plain->baseURL() << ", " << secureBase << " with the certificates in "
        << certificates << "), " << samples << " samples each\n";
    int status = 0;
    Figures memory;
    if (runBackend(QStringLiteral("memory"), std::make_shared<MemoryKeyStore>(), false, samples, transports,
                   memory))
        reportBackend(QStringLiteral("in-memory keys"), false, transports, memory);
    else
        status = 1;
    if (SecretServiceKeyStore::isAvailable()) {
        Figures keyring;
        if (runBackend(QStringLiteral("keyring"), std::make_shared<SecretServiceKeyStore>(), true, samples,
                       transports, keyring))
            reportBackend(QStringLiteral("keyring"), true, transports, keyring);
        else
            status = 1;
        KeyChain::keyStore()->remove(
            QStringLiteral("P-keyring||") + KeyChain::sha256Hex(QStringLiteral("135792")), KeyStore::anyItem);
    } else {
        out << "keyring: no Secret Service reachable, skipped (run through scripts/with-keyring.sh)\n";
    }

    for (IdentityServiceDouble* service : {plain, secure})
        QMetaObject::invokeMethod(
            service, [service] { delete service; }, Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();
    curl_global_cleanup();
    return status;
}
