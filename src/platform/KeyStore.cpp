#include "KeyStore.h"

KeyStore::~KeyStore() = default;
