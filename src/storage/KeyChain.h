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
    // a noticeable fraction of a second: from the UI thread use getOrCreateKeyPairAsync.
    static std::optional<KeyPair> getOrCreateKeyPair(const QString& tag);
    // The same, run on a worker thread; resumes on the caller's thread. It also tells whether this call
    // made the key: only a key it made is the caller's to delete again.
    struct KeyPairLookup {
        std::optional<KeyPair> keyPair;
        bool created = false;
    };
    static QCoro::Task<KeyPairLookup> getOrCreateKeyPairAsync(QString tag);

    // Signing with the key under `tag`: absent when there is no key to sign with (the request is not to be
    // sent); otherwise the signature as signBase64 makes it, itself absent when the key cannot sign. Only
    // the private key is loaded; a missing key is generated as getOrCreateKeyPair does.
    using Signature = std::optional<QString>;
    static std::optional<Signature> sign(const QString& tag, const QString& message);
    // The same without holding the caller: the signed-in user's cached key signs on the caller's thread
    // (well under a frame); otherwise the lookup and the signature run as one job on a worker thread.
    static QCoro::Task<std::optional<Signature>> signAsync(QString tag, QString message);

    // The signed-in user's key is kept in memory from the first signature of the session to its end, and
    // dropped whenever its tag is deleted or re-tagged. Keys of other tags are never kept.
    static void beginSigningSession(const QString& tag);
    static void endSigningSession();

    static std::optional<QString> publicKeyString(const PublicKey& publicKey);
    static qint32 updateKeyTag(const QString& from, const QString& to);
    // True when no key is left under the tag (deleted now, or there was none).
    static bool deleteKey(const QString& tag);
    // Deletes the keys under `tags` on a worker thread. The result: those of the tags under which no key
    // is left (deleted now, or there was none); a tag the store could not be asked about is not among them.
    static QFuture<QStringList> deleteKeysAsync(QStringList tags);
    static QString sha256Hex(const QString& text);

    // Signs the UTF-8 bytes of `message` (RSA PKCS#1 v1.5, SHA-256) and returns the standard Base64 of
    // the signature; absent when the key cannot sign.
    static std::optional<QString> signBase64(const PrivateKey& privateKey, const QString& message);

    // Replaces the key store; meant for tests, before any key operation. The default is the keyring.
    static void setKeyStore(std::shared_ptr<KeyStore> store);
    static std::shared_ptr<KeyStore> keyStore();
};
