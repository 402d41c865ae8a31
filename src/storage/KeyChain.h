#pragma once

#include "PrivateKey.h"
#include "PublicKey.h"

#include <QFuture>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class KeyStore;

// The device key operations, one RSA-2048 pair per enrolled user, found by tag ("<id>||<PIN hash>").
// Stateless; every operation works on the process-wide key store, which is the desktop keyring unless a
// test points it elsewhere before the first key operation.
class KeyChain {
public:
    struct KeyPair {
        PublicKey publicKey;
        PrivateKey privateKey;
    };

    KeyChain() = delete;

    // Looks the key up by tag and creates and stores a fresh pair when there is none. Key generation takes
    // a noticeable fraction of a second: not for the UI thread.
    static std::optional<KeyPair> getOrCreateKeyPair(const QString& tag);

    // An enrolment makes its key in steps, each on a worker thread and resuming on the caller's, so that
    // its record can name the very key it makes before the keyring holds it.
    // The pair under `tag`; absent when there is none or the store cannot be asked.
    static QCoro::Task<std::optional<KeyPair>> findKeyPairAsync(QString tag);
    // A fresh pair that no store holds yet.
    static QCoro::Task<std::optional<KeyPair>> generateKeyPairAsync();
    // Files `keyPair` under `tag` and returns the pair the tag holds afterwards: another one when a key lay
    // there first (the keyring never replaces one).
    static QCoro::Task<std::optional<KeyPair>> addKeyPairAsync(QString tag, KeyPair keyPair);

    // What a key is, whatever tag it lies under: the SHA-256 of its public key's DER SubjectPublicKeyInfo,
    // as 64 upper-case hexadecimal characters.
    static QString keyIdentity(const PublicKey& publicKey);

    // Signing with the key under `tag`: absent when there is no key to sign with (the request is not to be
    // sent); otherwise the signature as signBase64 makes it, itself absent when the key cannot sign. Only
    // the private key is loaded. When `tag` has no key but `enrolmentTag` has one, that key is the user's,
    // left behind by a move that never happened: it is moved to `tag` and signs. Only when neither tag has
    // a key is one generated, as getOrCreateKeyPair does.
    using Signature = std::optional<QString>;
    static std::optional<Signature> sign(const QString& tag, const QString& message,
                                         const std::optional<QString>& enrolmentTag = std::nullopt);
    // The same without holding the caller: the signed-in user's cached key signs on the caller's thread
    // (well under a frame); otherwise the lookup and the signature run as one job on a worker thread.
    static QCoro::Task<std::optional<Signature>>
    signAsync(QString tag, QString message, std::optional<QString> enrolmentTag = std::nullopt);

    // The signed-in user's key is kept in memory from the first signature of the session to its end, and
    // dropped whenever its tag is deleted or re-tagged. Keys of other tags are never kept.
    static void beginSigningSession(const QString& tag);
    static void endSigningSession();

    static std::optional<QString> publicKeyString(const PublicKey& publicKey);
    static qint32 updateKeyTag(const QString& from, const QString& to);
    // The same on a worker thread.
    static QCoro::Task<qint32> updateKeyTagAsync(QString from, QString to);
    // True when no key is left under the tag (deleted now, or there was none).
    static bool deleteKey(const QString& tag);
    static QString sha256Hex(const QString& text);

    // A stored user's two tags: a key left under the enrolment tag belongs under the signing tag.
    struct KeyMove {
        QString enrolmentTag;
        QString signingTag;
    };
    // A key known by its identity, for decisions that must not touch any other key under the same tag.
    struct KnownKey {
        QString tag;
        QString identity;
    };
    // Deletes the key under `known.tag` only when it is the known key itself. True when the known key is
    // not under the tag any more: deleted now, or never there (the tag is empty or holds another key, which
    // stays). False when the store could not be asked or refused the deletion.
    static bool deleteKnownKey(const KnownKey& known);
    static QCoro::Task<bool> deleteKnownKeyAsync(KnownKey known);
    // A start's work on the keyring, as one job on a worker thread. First every key in `moves` that lies
    // only under its enrolment tag goes to its signing tag. Then each of `known` is deleted as
    // deleteKnownKey does, unless its tag is the enrolment tag of a move that still has to happen: that key
    // may be the one the move is waiting for. The result tells for each of `known` whether it is no longer
    // under its tag.
    static QFuture<QList<bool>> settleKeysAsync(QList<KeyMove> moves, QList<KnownKey> known);

    // Signs the UTF-8 bytes of `message` (RSA PKCS#1 v1.5, SHA-256) and returns the standard Base64 of
    // the signature; absent when the key cannot sign.
    static std::optional<QString> signBase64(const PrivateKey& privateKey, const QString& message);

    // Replaces the key store; meant for tests, before any key operation. The default is the keyring.
    static void setKeyStore(std::shared_ptr<KeyStore> store);
    static std::shared_ptr<KeyStore> keyStore();
};
