#include "KeyChain.h"

#include "AppLogger.h"
#include "Console.h"
#include "CryptoExportImportManager.h"
#include "DeviceKeyHandle_p.h"
#include "KeyStore.h"
#include "SecretServiceKeyStore.h"
#include "SecureBytes.h"
#include "SigningKeyCache.h"

#include <QCryptographicHash>
#include <QFuture>
#include <QMutex>
#include <QMutexLocker>
#include <QPromise>
#include <QSet>
#include <QThreadPool>
#include <QUuid>

#include <qcoro/qcorofuture.h>

#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace {

constexpr int keySizeInBits = 2048;

QMutex& storeMutex() {
    static QMutex mutex;
    return mutex;
}

std::shared_ptr<KeyStore>& storeSlot() {
    static std::shared_ptr<KeyStore> store;
    return store;
}

QString openSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("unknown error");
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof(text));
    return QString::fromLatin1(text);
}

SigningKeyCache& signingCache() {
    // OpenSSL frees its own state at exit. Initialised before the cache, it does so after the cache has
    // freed the key it holds.
    [[maybe_unused]] static const bool openSslReady = OPENSSL_init_crypto(0, nullptr) == 1;
    static SigningKeyCache cache;
    return cache;
}

// The store keeps PKCS#8 PrivateKeyInfo DER of RSA keys; naming that spares OpenSSL trying every decoder
// it knows, which costs more than the signature the key is wanted for.
EvpPkeyPtr parsePrivateKey(const SecureBytes& der) {
    EVP_PKEY* parsed = nullptr;
    std::unique_ptr<OSSL_DECODER_CTX, decltype(&OSSL_DECODER_CTX_free)> ctx(
        OSSL_DECODER_CTX_new_for_pkey(&parsed, "DER", "PrivateKeyInfo", "RSA", EVP_PKEY_KEYPAIR, nullptr,
                                      nullptr),
        &OSSL_DECODER_CTX_free);
    const unsigned char* cursor = der.data();
    size_t length = der.size();
    if (!ctx || OSSL_DECODER_from_data(ctx.get(), &cursor, &length) != 1) {
        ERR_clear_error();
        EVP_PKEY_free(parsed);
        return {};
    }
    EvpPkeyPtr key(parsed);
    if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)
        key.reset();
    return key;
}

std::optional<SecureBytes> encodePrivateKey(const EVP_PKEY* key) {
    std::unique_ptr<OSSL_ENCODER_CTX, decltype(&OSSL_ENCODER_CTX_free)> ctx(
        OSSL_ENCODER_CTX_new_for_pkey(key, EVP_PKEY_KEYPAIR, "DER", "PrivateKeyInfo", nullptr),
        &OSSL_ENCODER_CTX_free);
    if (!ctx)
        return std::nullopt;
    unsigned char* data = nullptr;
    size_t length = 0;
    if (OSSL_ENCODER_to_data(ctx.get(), &data, &length) != 1 || !data)
        return std::nullopt;
    SecureBytes der(QByteArrayView(data, qsizetype(length)));
    OPENSSL_clear_free(data, length);
    return der;
}

// The public half as a key of its own, so a public key handle never carries private material.
EvpPkeyPtr publicHalf(const EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    if (length <= 0)
        return {};
    const unsigned char* cursor = der;
    EvpPkeyPtr result(d2i_PUBKEY(nullptr, &cursor, length));
    OPENSSL_free(der);
    return result;
}

void logKeyError(const QString& text) {
    AppLogger::shared().log(text, AppLogger::LogType::error);
}

// What a tag holds: its key, or the store's answer why none came of it. A success without a key is an
// item the program cannot use, which is no empty tag either.
struct Look {
    KeyStore::Status status = KeyStore::itemNotFound;
    std::optional<PrivateKey> key;
};

Look lookUp(KeyStore& store, const QString& tag) {
    Look look;
    std::optional<SecureBytes> der;
    look.status = store.lookUp(tag, der);
    if (look.status != KeyStore::success || !der)
        return look;
    if (EvpPkeyPtr key = parsePrivateKey(*der))
        look.key = PrivateKey(std::make_shared<const DeviceKeyHandle>(DeviceKeyHandle{std::move(key)}));
    return look;
}

bool unanswered(KeyStore::Status status) {
    return status != KeyStore::success && status != KeyStore::itemNotFound;
}

struct Obtained {
    std::optional<PrivateKey> key;
    bool keyringUnanswered = false;
};

// The private key under `tag`. When there is none, a key its user's enrolment left under one of
// `strandedTags` is moved there (and signs from where it lies when the move fails). Only when every one of
// these tags surely holds no key is one made and stored: a keyring that did not answer may hold the user's
// key, which a new one would take the place of for good.
Obtained lookUpOrCreate(KeyStore& store, const QString& tag, const std::optional<QStringList>& strandedTags) {
    Obtained obtained;
    Look look = lookUp(store, tag);
    obtained.key = look.key;
    obtained.keyringUnanswered = unanswered(look.status);
    bool surelyNone = look.status == KeyStore::itemNotFound && strandedTags.has_value();
    if (!obtained.key && look.status == KeyStore::itemNotFound && strandedTags) {
        for (const QString& stranded : *strandedTags) {
            const Look left = lookUp(store, stranded);
            if (left.key) {
                if (KeyChain::moveKey(stranded, tag) == KeyStore::success) {
                    if (std::optional<PrivateKey> moved = lookUp(store, tag).key) {
                        obtained.key = std::move(moved);
                        break;
                    }
                }
                obtained.key = left.key;
                break;
            }
            if (left.status != KeyStore::itemNotFound)
                surelyNone = false;
            if (unanswered(left.status))
                obtained.keyringUnanswered = true;
        }
    }
    if (!obtained.key && surelyNone) {
        EvpPkeyPtr generated(EVP_RSA_gen(keySizeInBits));
        if (generated) {
            if (const std::optional<SecureBytes> der = encodePrivateKey(generated.get())) {
                // Another process may have filed a key under the tag meanwhile; then that one is found.
                store.add(tag, *der);
            }
            console::debugPrint(u"Device key created");
        } else {
            const QString message = QStringLiteral("Error generating key: ") + openSslError();
            console::print(message);
            logKeyError(message);
        }
        // Read back what the store now holds rather than trusting the key just made: that is the key
        // later lookups (and other processes) will find.
        look = lookUp(store, tag);
        obtained.key = look.key;
        obtained.keyringUnanswered = unanswered(look.status);
    }
    if (obtained.key) {
        obtained.keyringUnanswered = false;
    } else {
        const QString message = QStringLiteral("keychain don't have private key");
        logKeyError(message);
        console::debugPrint(message);
    }
    return obtained;
}

Obtained signingKey(const QString& tag, const std::optional<QStringList>& strandedTags) {
    SigningKeyCache& cache = signingCache();
    if (std::optional<PrivateKey> cached = cache.find(tag))
        return {std::move(cached), false};
    const SigningKeyCache::Generation lookedUpAt = cache.generation();
    Obtained obtained = lookUpOrCreate(*KeyChain::keyStore(), tag, strandedTags);
    if (obtained.key)
        cache.keep(tag, *obtained.key, lookedUpAt);
    return obtained;
}

// Starts `job` on a worker thread; awaiting the future resumes the caller on its own thread.
template <typename Result> QFuture<Result> startOnWorkerThread(std::function<Result()> job) {
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, job = std::move(job)] {
        promise->addResult(job());
        // Pool threads outlive this job and may end only as the process ends; OpenSSL's per-thread state
        // (its error queue) is freed here rather than left to that race.
        OPENSSL_thread_stop();
        promise->finish();
    });
    return future;
}

} // namespace

void KeyChain::setKeyStore(std::shared_ptr<KeyStore> store) {
    {
        QMutexLocker lock(&storeMutex());
        storeSlot() = std::move(store);
    }
    signingCache().dropKey();
}

std::shared_ptr<KeyStore> KeyChain::keyStore() {
    QMutexLocker lock(&storeMutex());
    if (!storeSlot())
        storeSlot() = std::make_shared<SecretServiceKeyStore>();
    return storeSlot();
}

QString KeyChain::keyTag(const QString& first, const QString& pinHash) {
    return first + QStringLiteral("||") + pinHash;
}

std::optional<QString> KeyChain::signingTag(const AuthResponse& user) {
    if (!user.primaryAttr || !user.pin)
        return std::nullopt;
    return keyTag(*user.primaryAttr, *user.pin);
}

std::optional<QString> KeyChain::enrolmentTag(const AuthResponse& user) {
    if (!user.email || !user.pin)
        return std::nullopt;
    return keyTag(*user.email, *user.pin);
}

QString KeyChain::attemptTag(const QString& email, const QString& pinHash) {
    return keyTag(keyTag(email, pinHash), QUuid::createUuid().toString(QUuid::WithoutBraces));
}

namespace {

// The pair of `privateKey`, checked for the use the device key is put to.
std::optional<KeyChain::KeyPair> pairOf(const PrivateKey& privateKey) {
    EvpPkeyPtr publicPart = publicHalf(privateKey.handle().key.get());
    if (!publicPart) {
        logKeyError(QStringLiteral("keychain don't have public key"));
        return std::nullopt;
    }
    const PublicKey publicKey(
        std::make_shared<const DeviceKeyHandle>(DeviceKeyHandle{std::move(publicPart)}));

    if (!publicKey.supportsRsaPkcs1()) {
        const QString message = QStringLiteral("not supported cryptography");
        console::debugPrint(message);
        logKeyError(message);
        return std::nullopt;
    }

    const std::optional<QString> pem = KeyChain::publicKeyString(publicKey);
    console::debugPrint(
        QStringLiteral("PublicKey: ") +
        (pem ? QStringLiteral("Optional(") + console::debugForm(*pem) + u')' : QStringLiteral("nil")));
    return KeyChain::KeyPair{publicKey, privateKey};
}

std::optional<KeyChain::KeyPair> getOrCreate(const QString& tag) {
    const Obtained obtained = lookUpOrCreate(*KeyChain::keyStore(), tag, QStringList{});
    if (!obtained.key)
        return std::nullopt;
    return pairOf(*obtained.key);
}

// The identity of a stored secret; absent when it is no key this program could have made.
std::optional<QString> identityOfSecret(const SecureBytes& der) {
    EvpPkeyPtr key = parsePrivateKey(der);
    if (!key)
        return std::nullopt;
    EvpPkeyPtr publicPart = publicHalf(key.get());
    if (!publicPart)
        return std::nullopt;
    return KeyChain::keyIdentity(
        PublicKey(std::make_shared<const DeviceKeyHandle>(DeviceKeyHandle{std::move(publicPart)})));
}

// Whether the key under `known.tag` is the known key: absent when the store could not be asked.
std::optional<bool> holdsKnownKey(KeyStore& store, const KeyChain::KnownKey& known) {
    std::optional<SecureBytes> secret;
    const KeyStore::Status status = store.lookUp(known.tag, secret);
    if (status == KeyStore::itemNotFound)
        return false;
    if (status != KeyStore::success || !secret)
        return std::nullopt;
    return identityOfSecret(*secret) == known.identity;
}

KeyStore::Status removeKey(const QString& tag) {
    const KeyStore::Status status = KeyChain::keyStore()->remove(tag);
    // After the store has changed, so that a lookup racing with the change cannot keep what it read before.
    signingCache().drop(tag);
    console::print(status == KeyStore::success ? u"success deleteUser" : u"deleteUser error");
    return status;
}

} // namespace

std::optional<KeyChain::KeyPair> KeyChain::getOrCreateKeyPair(const QString& tag) {
    return getOrCreate(tag);
}

// Each job is started outside the co_await expression: temporaries there have been destroyed twice by the
// compiler we build with.
QCoro::Task<std::optional<KeyChain::KeyPair>> KeyChain::generateKeyPairAsync() {
    QFuture<std::optional<KeyPair>> generation =
        startOnWorkerThread<std::optional<KeyPair>>([]() -> std::optional<KeyPair> {
            EvpPkeyPtr generated(EVP_RSA_gen(keySizeInBits));
            if (!generated) {
                const QString message = QStringLiteral("Error generating key: ") + openSslError();
                console::print(message);
                logKeyError(message);
                return std::nullopt;
            }
            console::debugPrint(u"Device key created");
            return pairOf(
                PrivateKey(std::make_shared<const DeviceKeyHandle>(DeviceKeyHandle{std::move(generated)})));
        });
    co_return co_await generation;
}

QCoro::Task<qint32> KeyChain::addKeyPairAsync(QString tag, KeyPair keyPair) {
    QFuture<qint32> filing = startOnWorkerThread<qint32>([tag, keyPair]() -> qint32 {
        const std::optional<SecureBytes> der = encodePrivateKey(keyPair.privateKey.handle().key.get());
        if (!der)
            return KeyStore::param;
        return keyStore()->add(tag, *der);
    });
    co_return co_await filing;
}

QString KeyChain::keyIdentity(const PublicKey& publicKey) {
    const CryptoExportImportManager manager;
    const QByteArray der = manager.derSubjectPublicKeyInfo(publicKey.externalRepresentation());
    return QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex().toUpper());
}

KeyChain::Signing KeyChain::sign(const QString& tag, const QString& message,
                                 const std::optional<QStringList>& strandedTags) {
    const Obtained obtained = signingKey(tag, strandedTags);
    if (!obtained.key)
        return {std::nullopt, obtained.keyringUnanswered};
    return {std::optional<Signature>(std::in_place, signBase64(*obtained.key, message)), false};
}

QCoro::Task<KeyChain::Signing> KeyChain::signAsync(QString tag, QString message,
                                                   std::optional<QStringList> strandedTags) {
    if (const std::optional<PrivateKey> cached = signingCache().find(tag))
        co_return Signing{std::optional<Signature>(std::in_place, signBase64(*cached, message)), false};
    QFuture<Signing> signing = startOnWorkerThread<Signing>(
        [tag, message, strandedTags] { return sign(tag, message, strandedTags); });
    co_return co_await signing;
}

void KeyChain::beginSigningSession(const QString& tag) {
    signingCache().beginSession(tag);
}

void KeyChain::endSigningSession() {
    signingCache().endSession();
}

std::optional<QString> KeyChain::publicKeyString(const PublicKey& publicKey) {
    const QByteArray raw = publicKey.externalRepresentation();
    if (raw.isEmpty())
        return std::nullopt;
    const CryptoExportImportManager manager;
    return manager.exportPublicKeyPEM(manager.derSubjectPublicKeyInfo(raw));
}

// Drops the cached key after the store has changed, so that a lookup racing with the change cannot keep
// what it read before it.
qint32 KeyChain::updateKeyTag(const QString& from, const QString& to) {
    const qint32 status = keyStore()->retag(from, to);
    signingCache().drop(from);
    signingCache().drop(to);
    return status;
}

qint32 KeyChain::moveKey(const QString& from, const QString& to) {
    const qint32 status = updateKeyTag(from, to);
    console::print(status == 0 ? u"change key success" : u"change key failed");
    return status;
}

QCoro::Task<qint32> KeyChain::moveKeyAsync(QString from, QString to) {
    QFuture<qint32> move = startOnWorkerThread<qint32>([from, to] { return moveKey(from, to); });
    co_return co_await move;
}

bool KeyChain::deleteKey(const QString& tag) {
    const KeyStore::Status status = removeKey(tag);
    return status == KeyStore::success || status == KeyStore::itemNotFound;
}

bool KeyChain::deleteKnownKey(const KnownKey& known) {
    const std::optional<bool> there = holdsKnownKey(*keyStore(), known);
    if (!there)
        return false;
    // The tag held the known key a moment ago, and a tag is never given a second key: this deletes it.
    return !*there || deleteKey(known.tag);
}

QCoro::Task<bool> KeyChain::deleteKnownKeyAsync(KnownKey known) {
    QFuture<bool> deletion = startOnWorkerThread<bool>([known] { return deleteKnownKey(known); });
    co_return co_await deletion;
}

namespace {

// Whether `move` is settled once it has been tried.
bool settle(KeyStore& store, const KeyChain::KeyMove& move) {
    if (move.identity) {
        const std::optional<bool> there = holdsKnownKey(store, {move.from, *move.identity});
        if (!there)
            return false;
        if (!*there)
            return true;
    } else {
        std::optional<SecureBytes> ignored;
        const KeyStore::Status from = store.lookUp(move.from, ignored);
        if (from == KeyStore::itemNotFound)
            return true;
        if (from != KeyStore::success)
            return false;
    }
    std::optional<SecureBytes> ignored;
    const KeyStore::Status to = store.lookUp(move.to, ignored);
    if (to == KeyStore::itemNotFound)
        return KeyChain::moveKey(move.from, move.to) == KeyStore::success;
    // The user signs with the key under its signing tag already; a key known to be its own stays awaited
    // where it lies rather than being taken for nobody's.
    return to == KeyStore::success && !move.identity;
}

} // namespace

QFuture<KeyChain::Settlement> KeyChain::settleKeysAsync(QList<KeyMove> moves, QList<KnownKey> known) {
    return startOnWorkerThread<Settlement>([moves = std::move(moves), known = std::move(known)] {
        KeyStore& store = *keyStore();
        Settlement settlement;
        // Tags whose key some stored user may still need.
        QSet<QString> awaited;
        for (const KeyMove& move : moves) {
            const bool settled = settle(store, move);
            settlement.moved.append(settled);
            if (!settled)
                awaited.insert(move.from);
        }
        for (const KnownKey& key : known)
            settlement.gone.append(!awaited.contains(key.tag) && deleteKnownKey(key));
        return settlement;
    });
}

QString KeyChain::sha256Hex(const QString& text) {
    // The text is usually a PIN: its UTF-8 copy is wiped as soon as it is hashed.
    QByteArray utf8 = text.toUtf8();
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    const int ok = EVP_Digest(utf8.constData(), size_t(utf8.size()), digest, &length, EVP_sha256(), nullptr);
    OPENSSL_cleanse(utf8.data(), size_t(utf8.size()));
    if (ok != 1)
        qFatal("SHA-256 is not available");
    QString hex;
    hex.reserve(int(length) * 2);
    static constexpr char digits[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < length; ++i) {
        hex += QLatin1Char(digits[digest[i] >> 4]);
        hex += QLatin1Char(digits[digest[i] & 0x0F]);
    }
    OPENSSL_cleanse(digest, sizeof(digest));
    return hex;
}

std::optional<QString> KeyChain::signBase64(const PrivateKey& privateKey, const QString& message) {
    const std::optional<QByteArray> signature = privateKey.signSha256(message.toUtf8());
    if (!signature)
        return std::nullopt;
    return QString::fromLatin1(signature->toBase64());
}
