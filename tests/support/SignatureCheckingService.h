#pragma once

#include "IdentityServiceDouble.h"
#include "VerifyingKey.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

// Makes the identity-service double act like the real service towards signed requests: it keeps the
// public key of every device registration, under the registration's zid, and checks the signature of each
// "verify/did", "confirm/qid", "verify/validationCode" and "device/manage" request against the key
// registered for the request's zid. A request that fails the check is refused with result code 4
// (signature not matching) before any scripted reply is looked at.
//
// Like the real service, it takes an activation code once: after a registration with it has succeeded, a
// validation or registration with the same code is refused with result code 9 (activation code not found).
class SignatureCheckingService {
public:
    // One signed request as the service checked it.
    struct Check {
        QString path;
        QString message;
        bool verified = false;
        QJsonObject body;
    };

    // Takes over the double's handler for as long as this object lives.
    explicit SignatureCheckingService(IdentityServiceDouble& service);
    ~SignatureCheckingService();

    SignatureCheckingService(const SignatureCheckingService&) = delete;
    SignatureCheckingService& operator=(const SignatureCheckingService&) = delete;

    // Answers registrations as a success for this user, echoing the zid that the device chose.
    void enrolAs(const QString& suid, const QString& primaryAttr, const QString& orgCode);
    // Registers a key directly, for users enrolled before the test.
    void registerKey(const QString& zid, const QString& publicKeyPem);

    std::optional<QString> registeredKey(const QString& zid) const;
    const QList<Check>& checks() const { return m_checks; }
    bool allVerified() const;

    // What the check answers for a request: a refusal, or nothing to let the request through. A service
    // that puts rules of its own around the check installs its own handler and calls this from it.
    std::optional<ScriptedReply> handle(const ReceivedRequest& request);

    // The client signs a second code as its user typed it, while the body carries only the code's number,
    // so a leading zero is gone from it. A service that knows the code it issued answers the texts the
    // number may have been typed as, tried in turn; without one, the number as written.
    using CodeTexts = std::function<QStringList(const QJsonObject& body)>;
    void setCodeTexts(CodeTexts texts) { m_codeTexts = std::move(texts); }

    // The message that a client must have signed for a request to `path`, rebuilt from its body the way
    // the service does, with the second code as `codeText` where one is given; absent for routes that are
    // not signed.
    static std::optional<QString> expectedMessage(const QString& path, const QJsonObject& body,
                                                  const std::optional<QString>& codeText = std::nullopt);

private:
    struct Registration {
        QString pem;
        // Parsed once at registration, as the service would keep it; absent when the PEM is no key.
        std::optional<VerifyingKey> key;
    };

    IdentityServiceDouble& m_service;
    QHash<QString, Registration> m_keys;
    QList<Check> m_checks;
    std::optional<QJsonObject> m_enrolment;
    CodeTexts m_codeTexts;
    // The activation codes of the registrations answered as a success.
    QSet<QString> m_usedActivationCodes;
};
