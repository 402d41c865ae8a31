#include "KeyStore.h"

KeyStore::~KeyStore() = default;

std::optional<QStringList> KeyStore::tags() {
    return std::nullopt;
}
