#include "RequestSigner.h"

#include "Console.h"
#include "FlowSupport.h"
#include "app/AppViewModel.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"

#include <QCoroFuture>
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
    KeyChain::UnnamedPlaces places;
    if (!KeyChain::namedKey(user)) {
        CoreDataManager& store = CoreDataManager::shared();
        // The start's work on the keys may be naming or moving this very user's key.
        const QFuture<void> settling = store.deviceKeysSettled();
        co_await settling;
        std::optional<KeyChain::UnnamedPlaces> found = store.unnamedKeyPlaces(user);
        if (!found) {
            SigningOutcome unread;
            unread.storeUnread = true;
            co_return unread;
        }
        places = std::move(*found);
        if (!KeyChain::namedKey(user) && !KeyChain::signingTag(user))
            co_return SigningOutcome{};
    }
    QCoro::Task<KeyChain::Signing> signing = KeyChain::signAsync(user, message, places);
    KeyChain::Signing signature = co_await signing;
    if (!signature.signature) {
        SigningOutcome refused;
        refused.keyringUnanswered = signature.keyringUnanswered;
        refused.keyMissing = !signature.keyringUnanswered;
        co_return refused;
    }
    if (trace)
        console::print(QStringLiteral("Signature: ") + maskedCode(message));
    RequestSignature result;
    result.signature = std::move(*signature.signature);
    result.timestamp = timestamp();
    SigningOutcome outcome;
    outcome.signature = result;
    outcome.unnamedKey = signature.unnamedKey;
    co_return outcome;
}

std::optional<QString> RequestSigner::failureMessage(const SigningOutcome& outcome) {
    if (outcome.keyringUnanswered)
        return flows::keyringUnansweredMessage;
    if (outcome.storeUnread)
        return flows::unknownErrorMessage;
    if (outcome.keyMissing)
        return flows::keyMissingMessage;
    return std::nullopt;
}

void RequestSigner::nameAcceptedKey(AppViewModel& appViewModel, const AuthResponse& signer,
                                    const SigningOutcome& outcome) {
    std::optional<AuthResponse> current = appViewModel.authDetails.get();
    if (!outcome.unnamedKey || !signer.zid || !current || current->zid != signer.zid ||
        KeyChain::namedKey(*current))
        return;
    current->keyTag = outcome.unnamedKey->tag;
    current->keyIdentity = outcome.unnamedKey->identity;
    // The app state stores the record as it changes.
    appViewModel.authDetails = std::move(current);
}
