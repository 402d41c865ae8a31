#pragma once

#include "PrivateKey.h"
#include "PublicKey.h"
#include "api/AuthResponse.h"

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

    // The tags, built here only. A stored user signs with the key under its signing tag, `primaryAttr` "||"
    // PIN hash. Earlier versions made the key of an enrolment under `email` "||" PIN hash, which a stored
    // user may still have its key under when the move after its registration never happened. An enrolment
    // now makes its key under a tag of its own, which no other enrolment shares and the service never sees.
    static QString keyTag(const QString& first, const QString& pinHash);
    static std::optional<QString> signingTag(const AuthResponse& user);
    static std::optional<QString> enrolmentTag(const AuthResponse& user);
    static QString attemptTag(const QString& email, const QString& pinHash);

    // Looks the key up by tag and creates and stores a fresh pair only when the store surely holds none
    // there. Key generation takes a noticeable fraction of a second: not for the UI thread.
    static std::optional<KeyPair> getOrCreateKeyPair(const QString& tag);

    // An enrolment makes its key in steps, each on a worker thread and resuming on the caller's, so that
    // its record can name the very key it makes before the keyring holds it.
    // A fresh pair that no store holds yet.
    static QCoro::Task<std::optional<KeyPair>> generateKeyPairAsync();
    // Files `keyPair` under `tag`; the store's status. A tag that holds a key already keeps it.
    static QCoro::Task<qint32> addKeyPairAsync(QString tag, KeyPair keyPair);

    // What a key is, whatever tag it lies under: the SHA-256 of its public key's DER SubjectPublicKeyInfo,
    // as 64 upper-case hexadecimal characters.
    static QString keyIdentity(const PublicKey& publicKey);

    // Signing with the key under `tag`. `signature` is absent when there is no key to sign with (the
    // request is not to be sent), and then `keyringUnanswered` tells whether that is because the keyring
    // could not be asked (locked, the unlock refused or dismissed); otherwise it is the signature as
    // signBase64 makes it, itself absent when the key cannot sign. Only the private key is loaded.
    // When `tag` has no key, the user's key may still lie where its enrolment left it, under one of
    // `strandedTags`: the first found there is moved to `tag` and signs (from where it lies, should the move
    // fail). Only when `tag` and every one of `strandedTags` surely hold no key is one generated, as
    // getOrCreateKeyPair does; absent `strandedTags` (nobody could tell where else the key may lie) never
    // lets one be generated.
    using Signature = std::optional<QString>;
    struct Signing {
        std::optional<Signature> signature;
        bool keyringUnanswered = false;
    };
    static Signing sign(const QString& tag, const QString& message,
                        const std::optional<QStringList>& strandedTags = QStringList{});
    // The same without holding the caller: the signed-in user's cached key signs on the caller's thread
    // (well under a frame); otherwise the lookup and the signature run as one job on a worker thread.
    static QCoro::Task<Signing> signAsync(QString tag, QString message,
                                          std::optional<QStringList> strandedTags = QStringList{});

    // The signed-in user's key is kept in memory from the first signature of the session to its end, and
    // dropped whenever its tag is deleted or re-tagged. Keys of other tags are never kept.
    static void beginSigningSession(const QString& tag);
    static void endSigningSession();

    static std::optional<QString> publicKeyString(const PublicKey& publicKey);
    static qint32 updateKeyTag(const QString& from, const QString& to);
    // The one move of a user's key to the tag it signs with, wherever it is asked for: updateKeyTag, and the
    // line "change key success" or "change key failed".
    static qint32 moveKey(const QString& from, const QString& to);
    // The same on a worker thread.
    static QCoro::Task<qint32> moveKeyAsync(QString from, QString to);
    // True when no key is left under the tag (deleted now, or there was none).
    static bool deleteKey(const QString& tag);
    static QString sha256Hex(const QString& text);

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

    // A stored user's key that may lie under a tag it does not sign with: `from`, where an enrolment left
    // it, and `to`, its signing tag. With `identity` only that key moves, and it is awaited under `from`
    // while `to` holds another; without, whatever lies under `from` moves, and only while `to` is empty.
    struct KeyMove {
        QString from;
        QString to;
        std::optional<QString> identity;
    };
    // For each move, whether it is settled (the key lies where it belongs, or nothing of it is left under
    // `from`); for each deletion, whether the known key is no longer under its tag.
    struct Settlement {
        QList<bool> moved;
        QList<bool> gone;
    };
    // A start's work on the keyring, as one job on a worker thread. First the moves, then each of `known` is
    // deleted as deleteKnownKey does, unless its tag is the `from` of a move that is not settled: that key
    // may be the one the move is waiting for.
    static QFuture<Settlement> settleKeysAsync(QList<KeyMove> moves, QList<KnownKey> known);

    // Signs the UTF-8 bytes of `message` (RSA PKCS#1 v1.5, SHA-256) and returns the standard Base64 of
    // the signature; absent when the key cannot sign.
    static std::optional<QString> signBase64(const PrivateKey& privateKey, const QString& message);

    // Replaces the key store; meant for tests, before any key operation. The default is the keyring.
    static void setKeyStore(std::shared_ptr<KeyStore> store);
    static std::shared_ptr<KeyStore> keyStore();
};
