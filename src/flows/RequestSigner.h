#pragma once

#include "api/AuthResponse.h"
#include "storage/KeyChain.h"

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <optional>

// What a signed request adds to its body.
struct RequestSignature {
    // Base64 of the RSA PKCS#1 v1.5 SHA-256 signature; absent when the key cannot sign, and the request
    // still goes out so that the server decides.
    std::optional<QString> signature;
    // Whole milliseconds since 1970.
    qint64 timestamp = 0;

    bool operator==(const RequestSignature&) const = default;
};

// What signing gave: the signature, or the finding that the request is not to be sent.
struct SigningOutcome {
    std::optional<RequestSignature> signature;
    // Why there is none: the keyring could not be asked (locked, the unlock refused or dismissed), which the
    // flow tells the user, since nothing else shows why the request went nowhere.
    bool keyringUnanswered = false;
    // Or the keyring answered that it holds no key the user may sign with.
    bool keyMissing = false;
    // Or the store could not say where the key of a user stored by an earlier version may lie.
    bool storeUnread = false;
    // For a user whose record names no key yet: the key that signed, which the record names once the
    // service has accepted the signature.
    std::optional<KeyChain::KnownKey> unnamedKey;
};

class AppViewModel;

// The one place where requests made for the signed-in user are signed with the device key.
class RequestSigner {
public:
    // The messages of the four signed requests, fields joined by "||".
    static QString verifyDidMessage(const QString& suid, const QString& zid, const QString& uniqueId,
                                    const QString& org);
    static QString confirmQidMessage(const QString& suid, const QString& zid, const QString& verificationCode,
                                     const QString& orgCode);
    static QString verifyValidationCodeMessage(const QString& suid, const QString& zid,
                                               const QString& verificationCode, const QString& code,
                                               const QString& orgCode);
    static QString manageDeviceMessage(const QString& suid, const QString& zid);

    // The current time in whole milliseconds since 1970.
    static qint64 timestamp();

    // Signs `message` with the device key of `user`. No signature means the request is not to be sent: the
    // record names no key and lacks `primaryAttr` or `pin`, or the key store yields no key. The key the
    // record names is taken by its identity; the signed-in user's, once loaded, signs at once, otherwise it
    // is looked up and used on a worker thread. A user stored by an earlier version signs with the key its
    // records say is its own, else the one key under its signing or enrolment tag that no other user may
    // own, and only when the keyring surely holds none of these is a key generated. Only this last case
    // reads the store. `trace` prints the message for diagnosis, with the approval code masked.
    static QCoro::Task<SigningOutcome> sign(AuthResponse user, QString message, bool trace = false);

    // The status line of a request that was not sent for want of a signature; absent when the record
    // names no key and has no tag to look under either.
    static std::optional<QString> failureMessage(const SigningOutcome& outcome);
    // The service accepted a request `signer` signed: the record of a user that names no key names the key
    // that signed, when `signer` is still the signed-in user.
    static void nameAcceptedKey(AppViewModel& appViewModel, const AuthResponse& signer,
                                const SigningOutcome& outcome);
};
