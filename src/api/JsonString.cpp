#include "JsonString.h"

#include <QTextStream>

namespace detail {

std::optional<QString> prettyJson(const QJsonValue& encoded) {
    QJsonDocument document;
    if (encoded.isObject())
        document = QJsonDocument(encoded.toObject());
    else if (encoded.isArray())
        document = QJsonDocument(encoded.toArray());
    else
        return std::nullopt;
    return QString::fromUtf8(document.toJson(QJsonDocument::Indented));
}

void reportEncodingFailure(const coding::EncodingError& error) {
    QTextStream(stdout) << "Error encoding object to JSON string: " << error.description() << Qt::endl;
}

} // namespace detail
