#pragma once

#include "api/AuthResponse.h"

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
};

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
    // record lacks `primaryAttr` or `pin`, or the key store yields no key. The signed-in user's key, once
    // loaded, signs at once; otherwise the key is looked up and used on a worker thread: under the final
    // tag, else where the user's enrolment left it (and moved to the final one), and only when the keyring
    // surely holds none of these is a key generated. `trace` prints the message for diagnosis, with the
    // approval code masked.
    static QCoro::Task<SigningOutcome> sign(AuthResponse user, QString message, bool trace = false);
};
