#pragma once

#include "PrivateKey.h"
#include "PublicKey.h"
#include "api/AuthResponse.h"

#include <QFuture>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class KeyStore;

// The device key operations, one RSA-2048 pair per enrolled user. Stateless; every operation works on the
// process-wide key store, which is the desktop keyring unless a test points it elsewhere before the first key
// operation.
//
// A key this version makes lies for good under a tag of its own, which no other enrolment, organisation or
// data folder produces, and the user's record names it by that tag and its identity; everything that takes
// or deletes it picks it by its identity among whatever else lies under the tag. Users stored by earlier
// versions have their key under `primaryAttr` "||" PIN hash, or still under the `email` "||" PIN hash their
// enrolment made it under, until their record names it.
class KeyChain {
public:
    struct KeyPair {
        PublicKey publicKey;
        PrivateKey privateKey;
    };

    KeyChain() = delete;

    // A key known by its identity: the SHA-256 of its public key's DER SubjectPublicKeyInfo, as 64 upper-case
    // hexadecimal characters, and the tag it lies under.
    struct KnownKey {
        QString tag;
        QString identity;
        bool operator==(const KnownKey&) const = default;
    };

    static QString keyTag(const QString& first, const QString& pinHash);
    // An enrolment's own tag: the e-mail, the PIN hash and a random part.
    static QString attemptTag(const QString& email, const QString& pinHash);
    // The key the user's record names; absent for a user stored by an earlier version.
    static std::optional<KnownKey> namedKey(const AuthResponse& user);
    // Where an earlier version's user's key lies (`primaryAttr` "||" PIN hash), and where its enrolment made
    // it (`email` "||" PIN hash).
    static std::optional<QString> signingTag(const AuthResponse& user);
    static std::optional<QString> enrolmentTag(const AuthResponse& user);
    // The tags under which `user`'s key may lie, and so that no other user may take a key from: its named
    // key's tag, or for a user that names none the two above.
    static QStringList tagsOwnedBy(const AuthResponse& user);
    // Of those, the one its key lies under when nothing went wrong: its named key's tag, or the signing
    // tag. Another user's enrolment tag that happens to be this tag does not make the key that user's.
    static std::optional<QString> tagSignedUnder(const AuthResponse& user);

    static QString keyIdentity(const PublicKey& publicKey);

    // The key under `tag` when it holds exactly one, and otherwise a fresh pair made and stored there, but
    // only when the store surely holds nothing under the tag. Key generation takes a noticeable fraction of
    // a second: not for the UI thread.
    static std::optional<KeyPair> getOrCreateKeyPair(const QString& tag);

    // An enrolment makes its key in steps, each on a worker thread and resuming on the caller's, so that
    // its record can name the very key it makes before the keyring holds it.
    // A fresh pair that no store holds yet.
    static QCoro::Task<std::optional<KeyPair>> generateKeyPairAsync();
    // Files `keyPair` under `tag`; the store's status. A tag that holds a key already keeps it.
    static QCoro::Task<qint32> addKeyPairAsync(QString tag, KeyPair keyPair);
    // Whether the store holds `key` under its tag: absent when it could not be asked.
    static QCoro::Task<std::optional<bool>> holdsKeyAsync(KnownKey key);

    // What a user that names no key may sign with, as the store says: tags its key may lie under, in the
    // order they are looked at, and tags of other users, from which it takes nothing.
    struct UnnamedPlaces {
        // Keys that a record of this store says are the user's, each under its tag.
        QList<KnownKey> recorded;
        QStringList tags;
        QSet<QString> takenElsewhere;
    };

    // Signing for `user`: with the key its record names, or, for a user that names none, the one key under
    // one of `places` (nothing under a tag another user may own is taken). `signature` is absent when there
    // is no key to sign with (the request is not to be sent), and then `keyringUnanswered` tells whether that
    // is because the keyring could not be asked; otherwise it is the signature as signBase64 makes it, itself
    // absent when the key cannot sign. A user that names no key gets a fresh key under its signing tag only
    // when every tag its key may lie under surely holds nothing, and `unnamedKey` tells which key signed, so
    // that the record can name it once the service has accepted the signature.
    using Signature = std::optional<QString>;
    struct Signing {
        std::optional<Signature> signature;
        bool keyringUnanswered = false;
        std::optional<KnownKey> unnamedKey;
    };
    static Signing sign(const AuthResponse& user, const QString& message, const UnnamedPlaces& places = {});
    // The same without holding the caller: the signed-in user's cached key signs on the caller's thread
    // (well under a frame); otherwise the lookup and the signature run as one job on a worker thread.
    static QCoro::Task<Signing> signAsync(AuthResponse user, QString message, UnnamedPlaces places = {});

    // The signed-in user's key is kept in memory from the first signature of the session to its end, and
    // dropped whenever a key is deleted or moved. Keys of other users are never kept.
    static void beginSigningSession(const AuthResponse& user);
    static void endSigningSession();
    // What a session is for: the user and the key it signs with. Another value is another session.
    static std::optional<QString> sessionName(const AuthResponse& user);

    static std::optional<QString> publicKeyString(const PublicKey& publicKey);
    static QString sha256Hex(const QString& text);

    // Deletes `known` from under its tag, and nothing else there. True when it is not there any more:
    // deleted now, or surely not there. False when the store could not be asked or refused the deletion.
    static bool deleteKnownKey(const KnownKey& known);
    static QCoro::Task<bool> deleteKnownKeyAsync(KnownKey known);

    // A key to delete: a known one, or (`identity` empty) the one key under a tag that an earlier version's
    // user signed with.
    using Deletion = KnownKey;
    // A start's work on the keyring, as one job on a worker thread:
    // - `adoptions`: keys that attempt records name for users that name no key yet, each found under the
    //   attempt's tag or the tag its move would have taken it to;
    // - `deletions`: deleted as deleteKnownKey does, or the one key under the tag;
    // - `strandedMoves`: an earlier version's key left under its enrolment tag moves to the signing tag, when
    //   that is the one key there and the signing tag holds nothing at all.
    struct Adoption {
        KnownKey recorded;
        std::optional<QString> movedTo;
    };
    struct Move {
        QString from;
        QString to;
    };
    struct Settlement {
        // Where each adoption's key lies; absent when it could not be found, and then `answered` says
        // whether the store surely holds it nowhere.
        QList<std::optional<KnownKey>> adopted;
        QList<bool> answered;
        // For each deletion, whether the key is no longer there.
        QList<bool> gone;
    };
    static QFuture<Settlement> settleKeysAsync(QList<Adoption> adoptions, QList<Deletion> deletions,
                                               QList<Move> strandedMoves);
    // Deletes each of `deletions` as settleKeysAsync does, on a worker thread.
    static QFuture<QList<bool>> deleteKeysAsync(QList<Deletion> deletions);

    // Signs the UTF-8 bytes of `message` (RSA PKCS#1 v1.5, SHA-256) and returns the standard Base64 of
    // the signature; absent when the key cannot sign.
    static std::optional<QString> signBase64(const PrivateKey& privateKey, const QString& message);

    // Replaces the key store; meant for tests, before any key operation. The default is the keyring.
    static void setKeyStore(std::shared_ptr<KeyStore> store);
    static std::shared_ptr<KeyStore> keyStore();
};
