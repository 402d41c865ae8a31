#include "KeyStore.h"

KeyStore::~KeyStore() = default;

std::optional<SecureBytes> KeyStore::find(const QString& tag) {
    std::vector<SecureBytes> secrets;
    lookUp(tag, secrets);
    if (secrets.empty())
        return std::nullopt;
    return std::move(secrets.front());
}
