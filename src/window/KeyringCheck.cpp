#include "KeyringCheck.h"

#include "platform/SecretServiceKeyStore.h"

std::optional<QString> keyringProblem() {
    switch (SecretServiceKeyStore::reachability()) {
    case SecretServiceKeyStore::Reachability::reachable:
        return std::nullopt;
    case SecretServiceKeyStore::Reachability::noService:
        return QStringLiteral(
            "QuorvaleID keeps its device keys in your desktop keyring, but no keyring service answers in "
            "this session. Start one (for example GNOME Keyring or KWallet) or log in to a desktop session "
            "that provides it, then open QuorvaleID again.");
    case SecretServiceKeyStore::Reachability::locked:
        return QStringLiteral(
            "QuorvaleID keeps its device keys in your desktop keyring, but the keyring is locked and was not "
            "unlocked. Unlock it (for example in Passwords and Keys), then open QuorvaleID again.");
    }
    return std::nullopt;
}
