// Feeds arbitrary bytes to every reply decoder (and to the request decoders, which share the rules): each
// must either decode or throw a decoding error, and what decodes must survive its own encoding unchanged. The
// same bytes also go through the size limit of a reply's header and trailer fields.
#include "api/AuthResponse.h"
#include "api/CommonResponse.h"
#include "api/ConfirmModel.h"
#include "api/CreateAccountRequest.h"
#include "api/CurrentUser.h"
#include "api/JsonString.h"
#include "api/NonExistingUsersResponse.h"
#include "api/QRData.h"
#include "api/RemoveDeviceRequest.h"
#include "api/ResultCode.h"
#include "api/VerifyDidRequest.h"
#include "api/VerifyDidResponse.h"
#include "api/VersionInfoResponse.h"
#include "networking/ReplyHeaderFields.h"

#include <cstddef>
#include <cstdint>

namespace {

template <typename T>
void checkRoundTrip(const T& decoded) {
    // Types without equality are compared through their encoding, which is canonical.
    const QJsonValue encoded = coding::encode(decoded);
    const T again = coding::decode<T>(encoded);
    if (coding::encode(again) != encoded)
        __builtin_trap();
    if constexpr (std::equality_comparable<T>) {
        if (!(again == decoded))
            __builtin_trap();
    }
    if (!jsonString(decoded))
        __builtin_trap();
}

template <typename T>
void decodeOne(const QJsonValue& value) {
    try {
        checkRoundTrip(coding::decode<T>(value));
    } catch (const coding::DecodingError&) {
    }
}

void lookUpResultCode(const QJsonValue& value) {
    try {
        const auto reply = coding::decode<CommonResponse>(value);
        if (reply.resultCode) {
            if (const auto code = ResultCode::fromRawValue(*reply.resultCode)) {
                if (code->rawValue() != *reply.resultCode)
                    __builtin_trap();
                (void)code->message();
            }
        }
    } catch (const coding::DecodingError&) {
    }
}

// The same bytes as the lines of a reply's head and trailer, as the transport hands them on: whatever they
// hold, the fields kept never pass the limit, and once refused a reply stays refused.
void takeAsHeaderLines(const QByteArray& bytes) {
    ReplyHeaderFields head(512);
    bool refused = false;
    for (qsizetype from = 0; from < bytes.size();) {
        const qsizetype end = bytes.indexOf('\n', from);
        const qsizetype next = end < 0 ? bytes.size() : end + 1;
        const bool refusedNow =
            head.take(QByteArrayView(bytes).sliced(from, next - from)) == ReplyHeaderFields::Line::refused;
        if (refused && !refusedNow)
            __builtin_trap();
        refused = refusedNow;
        qint64 kept = 0;
        for (const auto& [name, value] : head.fields())
            kept += name.size() + value.size();
        if (kept > head.limit())
            __builtin_trap();
        from = next;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    takeAsHeaderLines(bytes);
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
    decodeOne<VerifyDidResponse>(value);
    decodeOne<OrgCode>(value);
    decodeOne<VersionInfoResponse>(value);
    decodeOne<NonExistingUsersResponse>(value);
    decodeOne<VerifyDidRequest>(value);
    decodeOne<RemoveDeviceRequest>(value);
    decodeOne<CreateAccountRequest>(value);
    decodeOne<QRData>(value);
    decodeOne<std::vector<CurrentUser>>(value);
    lookUpResultCode(value);
    return 0;
}
