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

std::optional<PrivateKey> lookUp(KeyStore& store, const QString& tag) {
    const std::optional<SecureBytes> der = store.find(tag);
    if (!der)
        return std::nullopt;
    EvpPkeyPtr key = parsePrivateKey(*der);
    if (!key)
        return std::nullopt;
    return PrivateKey(std::make_shared<const DeviceKeyHandle>(DeviceKeyHandle{std::move(key)}));
}

// A stored user's key found under its enrolment tag while the signing tag has none: the move after its
// registration never happened (a run killed midway, a keyring that failed). Moved now; when the move fails
// again the key still signs from where it lies, and the next signature tries the move once more.
std::optional<PrivateKey> adoptStrandedKey(KeyStore& store, const QString& enrolmentTag,
                                           const QString& signingTag) {
    std::optional<PrivateKey> stranded = lookUp(store, enrolmentTag);
    if (!stranded)
        return std::nullopt;
    const KeyStore::Status status = store.retag(enrolmentTag, signingTag);
    console::print(status == KeyStore::success ? u"change key success" : u"change key failed");
    if (std::optional<PrivateKey> moved = lookUp(store, signingTag))
        return moved;
    return stranded;
}

// The private key under `tag`, made and stored first when the store has none (nor, when given, under the
// user's enrolment tag).
std::optional<PrivateKey> lookUpOrCreate(KeyStore& store, const QString& tag,
                                         const std::optional<QString>& enrolmentTag = std::nullopt) {
    std::optional<PrivateKey> privateKey = lookUp(store, tag);
    if (!privateKey && enrolmentTag)
        privateKey = adoptStrandedKey(store, *enrolmentTag, tag);
    if (!privateKey) {
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
        privateKey = lookUp(store, tag);
    }
    if (!privateKey) {
        const QString message = QStringLiteral("keychain don't have private key");
        logKeyError(message);
        console::debugPrint(message);
    }
    return privateKey;
}

std::optional<PrivateKey> signingKey(const QString& tag, const std::optional<QString>& enrolmentTag) {
    SigningKeyCache& cache = signingCache();
    if (std::optional<PrivateKey> cached = cache.find(tag))
        return cached;
    const SigningKeyCache::Generation lookedUpAt = cache.generation();
    std::optional<PrivateKey> key = lookUpOrCreate(*KeyChain::keyStore(), tag, enrolmentTag);
    if (key)
        cache.keep(tag, *key, lookedUpAt);
    return key;
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
    const std::optional<PrivateKey> privateKey = lookUpOrCreate(*KeyChain::keyStore(), tag);
    if (!privateKey)
        return std::nullopt;
    return pairOf(*privateKey);
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
QCoro::Task<std::optional<KeyChain::KeyPair>> KeyChain::findKeyPairAsync(QString tag) {
    QFuture<std::optional<KeyPair>> lookup =
        startOnWorkerThread<std::optional<KeyPair>>([tag]() -> std::optional<KeyPair> {
            const std::optional<PrivateKey> privateKey = lookUp(*keyStore(), tag);
            if (!privateKey)
                return std::nullopt;
            return pairOf(*privateKey);
        });
    co_return co_await lookup;
}

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

QCoro::Task<std::optional<KeyChain::KeyPair>> KeyChain::addKeyPairAsync(QString tag, KeyPair keyPair) {
    QFuture<std::optional<KeyPair>> filing =
        startOnWorkerThread<std::optional<KeyPair>>([tag, keyPair]() -> std::optional<KeyPair> {
            KeyStore& store = *keyStore();
            if (const std::optional<SecureBytes> der =
                    encodePrivateKey(keyPair.privateKey.handle().key.get()))
                store.add(tag, *der);
            // What the tag holds now is what every later lookup finds, whoever filed it.
            const std::optional<PrivateKey> filed = lookUp(store, tag);
            if (!filed) {
                const QString message = QStringLiteral("keychain don't have private key");
                logKeyError(message);
                console::debugPrint(message);
                return std::nullopt;
            }
            return pairOf(*filed);
        });
    co_return co_await filing;
}

QString KeyChain::keyIdentity(const PublicKey& publicKey) {
    const CryptoExportImportManager manager;
    const QByteArray der = manager.derSubjectPublicKeyInfo(publicKey.externalRepresentation());
    return QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex().toUpper());
}

std::optional<KeyChain::Signature> KeyChain::sign(const QString& tag, const QString& message,
                                                  const std::optional<QString>& enrolmentTag) {
    const std::optional<PrivateKey> key = signingKey(tag, enrolmentTag);
    if (!key)
        return std::nullopt;
    return std::optional<Signature>(std::in_place, signBase64(*key, message));
}

QCoro::Task<std::optional<KeyChain::Signature>> KeyChain::signAsync(QString tag, QString message,
                                                                    std::optional<QString> enrolmentTag) {
    if (const std::optional<PrivateKey> cached = signingCache().find(tag))
        co_return std::optional<Signature>(std::in_place, signBase64(*cached, message));
    QFuture<std::optional<Signature>> signing = startOnWorkerThread<std::optional<Signature>>(
        [tag, message, enrolmentTag] { return sign(tag, message, enrolmentTag); });
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

QCoro::Task<qint32> KeyChain::updateKeyTagAsync(QString from, QString to) {
    QFuture<qint32> move = startOnWorkerThread<qint32>([from, to] { return updateKeyTag(from, to); });
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

QFuture<QList<bool>> KeyChain::settleKeysAsync(QList<KeyMove> moves, QList<KnownKey> known) {
    return startOnWorkerThread<QList<bool>>([moves = std::move(moves), known = std::move(known)] {
        KeyStore& store = *keyStore();
        // Enrolment tags whose key some stored user may still need: its signing tag has none, and the key
        // could not be moved there (or the keyring could not tell).
        QSet<QString> awaited;
        for (const KeyMove& move : moves) {
            std::optional<SecureBytes> ignored;
            const KeyStore::Status signing = store.lookUp(move.signingTag, ignored);
            if (signing == KeyStore::success)
                continue;
            const KeyStore::Status enrolment = store.lookUp(move.enrolmentTag, ignored);
            if (enrolment == KeyStore::itemNotFound)
                continue;
            if (signing == KeyStore::itemNotFound && enrolment == KeyStore::success) {
                const qint32 status = updateKeyTag(move.enrolmentTag, move.signingTag);
                console::print(status == 0 ? u"change key success" : u"change key failed");
                if (status == 0)
                    continue;
            }
            awaited.insert(move.enrolmentTag);
        }
        QList<bool> gone;
        for (const KnownKey& key : known)
            gone.append(!awaited.contains(key.tag) && deleteKnownKey(key));
        return gone;
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
