#pragma once

// Internal to the storage library: the OpenSSL key behind PublicKey and PrivateKey.

#include <openssl/evp.h>

#include <memory>

struct EvpPkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;

struct DeviceKeyHandle {
    EvpPkeyPtr key;
};
