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

std::optional<QString> identityOf(const EVP_PKEY* key) {
    EvpPkeyPtr publicPart = publicHalf(key);
    if (!publicPart)
        return std::nullopt;
    return KeyChain::keyIdentity(
        PublicKey(std::make_shared<const DeviceKeyHandle>(DeviceKeyHandle{std::move(publicPart)})));
}

// The identity of a stored secret; absent when it is no key this program could have made.
std::optional<QString> identityOfSecret(const SecureBytes& der) {
    const EvpPkeyPtr key = parsePrivateKey(der);
    return key ? identityOf(key.get()) : std::nullopt;
}

KeyStore::Match keyWithIdentity(const QString& identity) {
    return [identity](const SecureBytes& der) { return identityOfSecret(der) == identity; };
}

struct StoredKey {
    PrivateKey key;
    QString identity;
};

// What a tag holds: the keys among its items, and the store's answer. An item that is no key this program
// could have made is nobody's key, but no empty tag either.
struct Look {
    KeyStore::Status status = KeyStore::itemNotFound;
    std::vector<StoredKey> keys;
};

Look lookUp(KeyStore& store, const QString& tag) {
    Look look;
    std::vector<SecureBytes> secrets;
    look.status = store.lookUp(tag, secrets);
    for (const SecureBytes& der : secrets) {
        EvpPkeyPtr key = parsePrivateKey(der);
        if (!key)
            continue;
        if (std::optional<QString> identity = identityOf(key.get()))
            look.keys.push_back(
                {PrivateKey(std::make_shared<const DeviceKeyHandle>(DeviceKeyHandle{std::move(key)})),
                 std::move(*identity)});
    }
    return look;
}

bool unanswered(KeyStore::Status status) {
    return status != KeyStore::success && status != KeyStore::itemNotFound;
}

struct Obtained {
    std::optional<PrivateKey> key;
    bool keyringUnanswered = false;
    std::optional<KeyChain::KnownKey> unnamed;
};

// `known` among whatever lies under its tag.
Obtained find(KeyStore& store, const KeyChain::KnownKey& known) {
    const Look look = lookUp(store, known.tag);
    for (const StoredKey& stored : look.keys) {
        if (stored.identity == known.identity)
            return {stored.key, false, std::nullopt};
    }
    return {std::nullopt, unanswered(look.status), std::nullopt};
}

// The one key a tag holds, when the store says that it holds nothing else that could be the key.
std::optional<StoredKey> soleKey(const Look& look) {
    if (look.status != KeyStore::success || look.keys.size() != 1)
        return std::nullopt;
    return look.keys.front();
}

Obtained generateUnder(KeyStore& store, const QString& tag) {
    Obtained obtained;
    const EvpPkeyPtr generated(EVP_RSA_gen(keySizeInBits));
    if (!generated) {
        const QString message = QStringLiteral("Error generating key: ") + openSslError();
        console::print(message);
        logKeyError(message);
        return obtained;
    }
    const std::optional<QString> identity = identityOf(generated.get());
    const std::optional<SecureBytes> der = encodePrivateKey(generated.get());
    // Another process may have filed something under the tag meanwhile; that stays, and nothing is taken.
    if (!identity || !der || store.add(tag, *der) != KeyStore::success)
        return obtained;
    console::debugPrint(u"Device key created");
    // What the store holds now is the key later lookups (and other processes) find.
    obtained = find(store, {tag, *identity});
    if (obtained.key)
        obtained.unnamed = KeyChain::KnownKey{tag, *identity};
    return obtained;
}

// The key of a user that names none: one its store's records say is the user's, else the one key under one
// of its tags. Only when each of these surely holds nothing is a key made, under the first tag: a keyring
// that did not answer may hold the user's key, which a new one would take the place of for good.
Obtained lookUpUnnamed(KeyStore& store, const KeyChain::UnnamedPlaces& places) {
    Obtained obtained;
    bool surelyNone = !places.tags.isEmpty();
    for (const KeyChain::KnownKey& recorded : places.recorded) {
        Obtained found = find(store, recorded);
        if (found.key) {
            found.unnamed = recorded;
            return found;
        }
        if (found.keyringUnanswered) {
            surelyNone = false;
            obtained.keyringUnanswered = true;
        }
    }
    for (const QString& tag : places.tags) {
        if (places.takenElsewhere.contains(tag)) {
            surelyNone = false;
            continue;
        }
        const Look look = lookUp(store, tag);
        if (const std::optional<StoredKey> key = soleKey(look))
            return {key->key, false, KeyChain::KnownKey{tag, key->identity}};
        if (look.status != KeyStore::itemNotFound)
            surelyNone = false;
        if (unanswered(look.status))
            obtained.keyringUnanswered = true;
    }
    if (surelyNone) {
        obtained = generateUnder(store, places.tags.front());
        if (obtained.key)
            return obtained;
    }
    const QString message = QStringLiteral("keychain don't have private key");
    logKeyError(message);
    console::debugPrint(message);
    return obtained;
}

Obtained obtain(const AuthResponse& user, const KeyChain::UnnamedPlaces& places) {
    KeyStore& store = *KeyChain::keyStore();
    const std::optional<KeyChain::KnownKey> named = KeyChain::namedKey(user);
    if (!named)
        return lookUpUnnamed(store, places);
    Obtained found = find(store, *named);
    if (!found.key) {
        const QString message = QStringLiteral("keychain don't have private key");
        logKeyError(message);
        console::debugPrint(message);
    }
    return found;
}

// Only a named key is kept for the session: a user that names none looks its key up until the service has
// accepted one and its record names it.
Obtained signingKey(const AuthResponse& user, const KeyChain::UnnamedPlaces& places) {
    SigningKeyCache& cache = signingCache();
    const std::optional<QString> session =
        KeyChain::namedKey(user) ? KeyChain::sessionName(user) : std::nullopt;
    if (session) {
        if (std::optional<PrivateKey> cached = cache.find(*session))
            return {std::move(cached), false, std::nullopt};
    }
    const SigningKeyCache::Generation lookedUpAt = cache.generation();
    Obtained obtained = obtain(user, places);
    if (obtained.key && session)
        cache.keep(*session, *obtained.key, lookedUpAt);
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

// A key that lies where no record of this store can name it any more. An earlier version's user's tag
// (`identity` empty) gives up its key only when that is the one key there.
bool deleteKey(KeyStore& store, const KeyChain::Deletion& deletion) {
    if (!deletion.identity.isEmpty())
        return KeyChain::deleteKnownKey(deletion);
    const Look look = lookUp(store, deletion.tag);
    if (look.status == KeyStore::itemNotFound)
        return true;
    if (const std::optional<StoredKey> key = soleKey(look))
        return KeyChain::deleteKnownKey({deletion.tag, key->identity});
    // More than one key there, or none of them a key: nothing to tell which is whose, so nothing goes.
    return look.status == KeyStore::success;
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

QString KeyChain::attemptTag(const QString& email, const QString& pinHash) {
    return keyTag(keyTag(email, pinHash), QUuid::createUuid().toString(QUuid::WithoutBraces));
}

std::optional<KeyChain::KnownKey> KeyChain::namedKey(const AuthResponse& user) {
    if (!user.keyTag || !user.keyIdentity || user.keyTag->isEmpty() || user.keyIdentity->isEmpty())
        return std::nullopt;
    return KnownKey{*user.keyTag, *user.keyIdentity};
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

QStringList KeyChain::tagsOwnedBy(const AuthResponse& user) {
    if (const std::optional<KnownKey> named = namedKey(user))
        return {named->tag};
    QStringList tags;
    for (const std::optional<QString>& tag : {signingTag(user), enrolmentTag(user)}) {
        if (tag && !tags.contains(*tag))
            tags.append(*tag);
    }
    return tags;
}

std::optional<QString> KeyChain::tagSignedUnder(const AuthResponse& user) {
    if (const std::optional<KnownKey> named = namedKey(user))
        return named->tag;
    return signingTag(user);
}

std::optional<QString> KeyChain::sessionName(const AuthResponse& user) {
    const std::optional<KnownKey> named = namedKey(user);
    const std::optional<QString> tag =
        named ? std::optional(named->tag + u'|' + named->identity) : signingTag(user);
    if (!tag)
        return std::nullopt;
    return user.zid.value_or(QString()) + u'|' + *tag;
}

QString KeyChain::keyIdentity(const PublicKey& publicKey) {
    const CryptoExportImportManager manager;
    const QByteArray der = manager.derSubjectPublicKeyInfo(publicKey.externalRepresentation());
    return QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex().toUpper());
}

std::optional<KeyChain::KeyPair> KeyChain::getOrCreateKeyPair(const QString& tag) {
    const Obtained obtained = lookUpUnnamed(*keyStore(), UnnamedPlaces{{}, {tag}, {}});
    if (!obtained.key)
        return std::nullopt;
    return pairOf(*obtained.key);
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

QCoro::Task<std::optional<bool>> KeyChain::holdsKeyAsync(KnownKey key) {
    QFuture<std::optional<bool>> look =
        startOnWorkerThread<std::optional<bool>>([key]() -> std::optional<bool> {
            const Obtained found = find(*keyStore(), key);
            if (found.key)
                return true;
            return found.keyringUnanswered ? std::nullopt : std::optional(false);
        });
    co_return co_await look;
}

KeyChain::Signing KeyChain::sign(const AuthResponse& user, const QString& message,
                                 const UnnamedPlaces& places) {
    const Obtained obtained = signingKey(user, places);
    if (!obtained.key)
        return {std::nullopt, obtained.keyringUnanswered, std::nullopt};
    return {std::optional<Signature>(std::in_place, signBase64(*obtained.key, message)), false,
            obtained.unnamed};
}

QCoro::Task<KeyChain::Signing> KeyChain::signAsync(AuthResponse user, QString message, UnnamedPlaces places) {
    if (const std::optional<QString> session = namedKey(user) ? sessionName(user) : std::nullopt) {
        if (const std::optional<PrivateKey> cached = signingCache().find(*session))
            co_return Signing{std::optional<Signature>(std::in_place, signBase64(*cached, message)), false,
                              std::nullopt};
    }
    QFuture<Signing> signing =
        startOnWorkerThread<Signing>([user, message, places] { return sign(user, message, places); });
    co_return co_await signing;
}

void KeyChain::beginSigningSession(const AuthResponse& user) {
    if (const std::optional<QString> session = sessionName(user))
        signingCache().beginSession(*session);
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

bool KeyChain::deleteKnownKey(const KnownKey& known) {
    const KeyStore::Status status = keyStore()->remove(known.tag, keyWithIdentity(known.identity));
    // After the store has changed, so that a lookup racing with the change cannot keep what it read before.
    signingCache().dropKey();
    console::print(status == KeyStore::success ? u"success deleteUser" : u"deleteUser error");
    return status == KeyStore::success || status == KeyStore::itemNotFound;
}

QCoro::Task<bool> KeyChain::deleteKnownKeyAsync(KnownKey known) {
    QFuture<bool> deletion = startOnWorkerThread<bool>([known] { return deleteKnownKey(known); });
    co_return co_await deletion;
}

QFuture<QList<bool>> KeyChain::deleteKeysAsync(QList<Deletion> deletions) {
    return startOnWorkerThread<QList<bool>>([deletions = std::move(deletions)] {
        KeyStore& store = *keyStore();
        QList<bool> gone;
        for (const Deletion& deletion : deletions)
            gone.append(deleteKey(store, deletion));
        return gone;
    });
}

QFuture<KeyChain::Settlement> KeyChain::settleKeysAsync(QList<Adoption> adoptions, QList<Deletion> deletions,
                                                        QList<Move> strandedMoves) {
    return startOnWorkerThread<Settlement>([adoptions = std::move(adoptions),
                                            deletions = std::move(deletions),
                                            strandedMoves = std::move(strandedMoves)] {
        KeyStore& store = *keyStore();
        Settlement settlement;
        for (const Adoption& adoption : adoptions) {
            std::optional<KnownKey> where;
            bool answered = false;
            QList<KnownKey> places{adoption.recorded};
            if (adoption.movedTo)
                places.append({*adoption.movedTo, adoption.recorded.identity});
            answered = true;
            for (const KnownKey& place : places) {
                const Obtained found = find(store, place);
                if (found.key) {
                    where = place;
                    break;
                }
                answered = answered && !found.keyringUnanswered;
            }
            settlement.adopted.append(where);
            settlement.answered.append(where || answered);
        }
        for (const Deletion& deletion : deletions)
            settlement.gone.append(deleteKey(store, deletion));
        // The one small step left for users of earlier versions, whose enrolment's move of the key may never
        // have happened: it never moves a key onto a tag that holds anything.
        for (const Move& move : strandedMoves) {
            const std::optional<StoredKey> key = soleKey(lookUp(store, move.from));
            if (!key || lookUp(store, move.to).status != KeyStore::itemNotFound)
                continue;
            const qint32 status = store.retag(move.from, move.to, keyWithIdentity(key->identity));
            signingCache().dropKey();
            console::print(status == KeyStore::success ? u"change key success" : u"change key failed");
        }
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
