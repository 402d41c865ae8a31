// Feeds arbitrary bytes to every reply decoder: each must either decode or throw a decoding error.
#include "api/AuthResponse.h"
#include "api/CommonResponse.h"
#include "api/ConfirmModel.h"

#include <cstddef>
#include <cstdint>

namespace {

template <typename T>
void decodeOne(const QJsonValue& value) {
    try {
        const T decoded = coding::decode<T>(value);
        // What decodes must survive its own encoding unchanged.
        if (!(coding::decode<T>(coding::encode(decoded)) == decoded))
            __builtin_trap();
    } catch (const coding::DecodingError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QJsonValue value;
    try {
        value = coding::parse(bytes);
    } catch (const coding::DecodingError&) {
        return 0;
    }
    decodeOne<AuthResponse>(value);
    decodeOne<CommonResponse>(value);
    decodeOne<AlertModel>(value);
    decodeOne<ConfirmModel>(value);
    return 0;
}
