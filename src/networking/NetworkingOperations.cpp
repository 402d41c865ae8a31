#include "NetworkingOperations.h"

#include "NetworkingClient.h"
#include "NetworkingError.h"

rx::Publisher<QJsonValue> toJSON(const rx::Publisher<QByteArray>& publisher) {
    return publisher.tryMap(parseJSON);
}

namespace networking_detail {

QJsonValue parseReply(const QByteArray& data) {
    return parseJSON(data);
}

void throwClientGone() {
    throw NetworkingError::unknown;
}

} // namespace networking_detail
