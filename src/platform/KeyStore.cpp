#include "KeyStore.h"

KeyStore::~KeyStore() = default;

KeyStore::Status KeyStore::lookUp(const QString& tag, std::optional<SecureBytes>& secret) {
    secret = find(tag);
    return secret ? success : notAvailable;
}
