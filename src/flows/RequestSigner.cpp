#include "RequestSigner.h"

#include "Console.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"

#include <QDateTime>

namespace {
const QString separator = QStringLiteral("||");

// Standard output of a desktop session ends up in the journal, so the trace keeps the identifiers but not
// the code that approves a sign-in.
QString maskedCode(const QString& message) {
    QStringList parts = message.split(separator);
    if (parts.size() > 2)
        parts[2] = QString(parts[2].size(), QLatin1Char('*'));
    return parts.join(separator);
}
} // namespace

QString RequestSigner::verifyDidMessage(const QString& suid, const QString& zid, const QString& uniqueId,
                                        const QString& org) {
    QStringList parts{suid, zid, uniqueId};
    if (!org.isEmpty())
        parts.append(org);
    return parts.join(separator);
}

QString RequestSigner::confirmQidMessage(const QString& suid, const QString& zid,
                                         const QString& verificationCode, const QString& orgCode) {
    QStringList parts{suid, zid, verificationCode};
    if (!orgCode.isEmpty())
        parts.append(orgCode);
    return parts.join(separator);
}

QString RequestSigner::verifyValidationCodeMessage(const QString& suid, const QString& zid,
                                                   const QString& verificationCode, const QString& code,
                                                   const QString& orgCode) {
    // Always five parts: an empty organisation leaves the message ending in the separator.
    return QStringList{suid, zid, verificationCode.toUpper(), code, orgCode}.join(separator);
}

QString RequestSigner::manageDeviceMessage(const QString& suid, const QString& zid) {
    return QStringList{suid, zid}.join(separator);
}

qint64 RequestSigner::timestamp() {
    return QDateTime::currentMSecsSinceEpoch();
}

QCoro::Task<SigningOutcome> RequestSigner::sign(AuthResponse user, QString message, bool trace) {
    const std::optional<QString> tag = KeyChain::signingTag(user);
    if (!tag)
        co_return SigningOutcome{};
    // A key the user's enrolment never got to move is found where it lies and moved now, rather than a
    // fresh key made under the final tag, which the service would not know.
    const std::optional<QStringList> stranded = CoreDataManager::shared().strandedKeyTags(user);
    QCoro::Task<KeyChain::Signing> signing = KeyChain::signAsync(*tag, message, stranded);
    KeyChain::Signing signature = co_await signing;
    if (!signature.signature)
        co_return SigningOutcome{std::nullopt, signature.keyringUnanswered};
    if (trace)
        console::print(QStringLiteral("Signature: ") + maskedCode(message));
    RequestSignature result;
    result.signature = std::move(*signature.signature);
    result.timestamp = timestamp();
    co_return SigningOutcome{result, false};
}
