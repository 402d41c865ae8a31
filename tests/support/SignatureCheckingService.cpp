#include "SignatureCheckingService.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonValue>

#include <cstdlib>

namespace {

const QString apiPrefix = QStringLiteral("/api/v1/");

QString text(const QJsonObject& body, const char* key) {
    return body.value(QLatin1String(key)).toString();
}

ScriptedReply refusal(qint64 resultCode, const QString& message) {
    const QJsonObject reply{{"errorCode", 1}, {"resultCode", resultCode}, {"errorMessage", message}};
    return ScriptedReply::json(200, QJsonDocument(reply).toJson(QJsonDocument::Compact));
}

} // namespace

SignatureCheckingService::SignatureCheckingService(IdentityServiceDouble& service)
    : m_service(service) {
    m_service.setHandler([this](const ReceivedRequest& request) { return handle(request); });
}

SignatureCheckingService::~SignatureCheckingService() {
    m_service.setHandler({});
}

void SignatureCheckingService::enrolAs(const QString& suid, const QString& primaryAttr,
                                       const QString& orgCode) {
    m_enrolment = QJsonObject{{"errorCode", 0},
                              {"resultCode", 0},
                              {"suid", suid},
                              {"primaryAttr", primaryAttr},
                              {"orgCode", orgCode}};
}

void SignatureCheckingService::registerKey(const QString& zid, const QString& publicKeyPem) {
    m_keys.insert(zid, Registration{publicKeyPem, VerifyingKey::fromPem(publicKeyPem)});
}

std::optional<QString> SignatureCheckingService::registeredKey(const QString& zid) const {
    const auto it = m_keys.constFind(zid);
    return it == m_keys.constEnd() ? std::nullopt : std::optional(it->pem);
}

bool SignatureCheckingService::allVerified() const {
    for (const Check& check : m_checks)
        if (!check.verified)
            return false;
    return true;
}

std::optional<QString> SignatureCheckingService::expectedMessage(const QString& path, const QJsonObject& body,
                                                                 const std::optional<QString>& codeText) {
    const QString route = path.startsWith(apiPrefix) ? path.mid(apiPrefix.size()) : path;
    QStringList parts{text(body, "suid"), text(body, "zid")};
    const QString org = text(body, "org");
    if (route == QStringLiteral("verify/did") || route == QStringLiteral("confirm/qid")) {
        parts.append(text(body, "uniqueId"));
        if (!org.isEmpty())
            parts.append(org);
    } else if (route == QStringLiteral("verify/validationCode")) {
        const QJsonValue code = body.value("validationCode");
        parts.append(text(body, "uniqueId"));
        parts.append(codeText ? *codeText : code.isDouble() ? QString::number(code.toInteger()) : QString());
        parts.append(org);
    } else if (route != QStringLiteral("device/manage")) {
        return std::nullopt;
    }
    return parts.join(QStringLiteral("||"));
}

std::optional<ScriptedReply> SignatureCheckingService::handle(const ReceivedRequest& request) {
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();

    const bool isRegistration = request.path == apiPrefix + QStringLiteral("desktop/user/register");
    if (isRegistration || request.path == apiPrefix + QStringLiteral("user/registration/validate")) {
        if (m_usedActivationCodes.contains(text(body, "activationCode"))) {
            constexpr qint64 activationCodeNotFound = 9;
            const QJsonObject reply{{"errorCode", 1}, {"resultCode", activationCodeNotFound}};
            return ScriptedReply::json(200, QJsonDocument(reply).toJson(QJsonDocument::Compact));
        }
    }
    if (isRegistration) {
        const QString zid = text(body, "zid");
        const QString publicKey = text(body, "publicKey");
        if (!zid.isEmpty() && !publicKey.isEmpty())
            registerKey(zid, publicKey);
        if (!m_enrolment)
            return std::nullopt;
        m_usedActivationCodes.insert(text(body, "activationCode"));
        QJsonObject reply = *m_enrolment;
        reply.insert("zid", zid);
        return ScriptedReply::json(200, QJsonDocument(reply).toJson(QJsonDocument::Compact));
    }

    const std::optional<QString> message = expectedMessage(request.path, body);
    if (!message)
        return std::nullopt;
    QStringList messages;
    if (m_codeTexts && request.path == apiPrefix + QStringLiteral("verify/validationCode")) {
        for (const QString& codeText : m_codeTexts(body))
            messages.append(*expectedMessage(request.path, body, codeText));
    }
    if (messages.isEmpty())
        messages.append(*message);

    Check check{request.path, messages.first(), false, body};
    const auto registration = m_keys.constFind(text(body, "zid"));
    const VerifyingKey* key =
        registration == m_keys.constEnd() || !registration->key ? nullptr : &*registration->key;
    const QJsonValue signature = body.value("signature");
    const QJsonValue timestamp = body.value("timestamp");
    // Milliseconds, and recent: a replayed or mistimed request is refused like a forged one.
    const bool fresh =
        timestamp.isDouble() &&
        std::llabs(timestamp.toInteger() - QDateTime::currentMSecsSinceEpoch()) < 5 * 60 * 1000;
    if (key && signature.isString() && fresh) {
        for (const QString& candidate : messages) {
            if (key->verify(candidate, signature.toString())) {
                check.message = candidate;
                check.verified = true;
                break;
            }
        }
    }
    m_checks.append(check);
    if (!check.verified)
        return refusal(4, QStringLiteral("Signature not matching"));
    return std::nullopt;
}
