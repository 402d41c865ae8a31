#include "JsonCoding.h"

#include <QCborValue>
#include <QJsonParseError>
#include <QTimeZone>

#include <cmath>

namespace coding {

namespace {

const QDateTime& referenceDate() {
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return date;
}

QString contextText(const CodingPath& path, const QString& debugDescription) {
    QStringList keys;
    for (const CodingKey& key : path) {
        if (key.intValue)
            keys.append(QStringLiteral("_JSONKey(stringValue: \"%1\", intValue: %2)").arg(key.stringValue).arg(*key.intValue));
        else
            keys.append(QStringLiteral("CodingKeys(stringValue: \"%1\", intValue: nil)").arg(key.stringValue));
    }
    return QStringLiteral("Context(codingPath: [%1], debugDescription: \"%2\", underlyingError: nil)")
        .arg(keys.join(QStringLiteral(", ")), debugDescription);
}

// Beyond about 300,000 years either way a point in time no longer fits in milliseconds.
constexpr double dateLimitSeconds = 1e13;

QString kindName(DecodingError::Kind kind) {
    switch (kind) {
    case DecodingError::Kind::typeMismatch:
        return QStringLiteral("typeMismatch");
    case DecodingError::Kind::valueNotFound:
        return QStringLiteral("valueNotFound");
    case DecodingError::Kind::keyNotFound:
        return QStringLiteral("keyNotFound");
    case DecodingError::Kind::dataCorrupted:
        return QStringLiteral("dataCorrupted");
    }
    return {};
}

} // namespace

DecodingError::DecodingError(Kind kind, CodingPath codingPath, QString debugDescription)
    : m_kind(kind)
    , m_codingPath(std::move(codingPath))
    , m_debugDescription(std::move(debugDescription)) {
    m_what = detailedDescription().toStdString();
}

QString DecodingError::pathString() const {
    QStringList parts;
    for (const CodingKey& key : m_codingPath)
        parts.append(key.stringValue);
    return parts.join(QLatin1Char('.'));
}

QString DecodingError::contextDescription() const {
    return contextText(m_codingPath, m_debugDescription);
}

QString DecodingError::localizedDescription() const {
    // Wrong types and unreadable data are a format problem; missing keys and nulls are missing data.
    switch (m_kind) {
    case Kind::typeMismatch:
    case Kind::dataCorrupted:
        return QStringLiteral("The data couldn\u2019t be read because it isn\u2019t in the correct format.");
    case Kind::valueNotFound:
    case Kind::keyNotFound:
        return QStringLiteral("The data couldn\u2019t be read because it is missing.");
    }
    return QStringLiteral("The operation couldn\u2019t be completed.");
}

QString DecodingError::detailedDescription() const {
    const QString twoBlanks = QStringLiteral("  ");
    switch (m_kind) {
    case Kind::typeMismatch:
    case Kind::valueNotFound:
    case Kind::keyNotFound:
        return kindName(m_kind) + QStringLiteral(" error: ") + m_debugDescription + twoBlanks +
               localizedDescription();
    case Kind::dataCorrupted:
        return QStringLiteral("dataCorrupted error at: ") + contextDescription() + twoBlanks + localizedDescription();
    }
    return QStringLiteral("decoding error: ") + localizedDescription();
}

EncodingError::EncodingError(CodingPath codingPath, QString debugDescription)
    : m_codingPath(std::move(codingPath))
    , m_debugDescription(std::move(debugDescription)) {
    m_what = description().toStdString();
}

QString EncodingError::description() const {
    return QStringLiteral("invalidValue(%1)").arg(contextText(m_codingPath, m_debugDescription));
}

void EncodingError::prependKey(const CodingKey& key) {
    m_codingPath.insert(m_codingPath.begin(), key);
    m_what = description().toStdString();
}

QString jsonTypeName(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("bool");
    case QJsonValue::Double:
        return QStringLiteral("number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("a dictionary");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

void throwTypeMismatch(const CodingPath& path, const char* expected, const QJsonValue& found) {
    throw DecodingError(DecodingError::Kind::typeMismatch, path,
                        QStringLiteral("Expected to decode %1 but found %2 instead.")
                            .arg(QLatin1String(expected), jsonTypeName(found)));
}

void throwValueNotFound(const CodingPath& path, const char* expected) {
    throw DecodingError(DecodingError::Kind::valueNotFound, path,
                        QStringLiteral("Expected %1 value but found null instead.").arg(QLatin1String(expected)));
}

void throwDataCorrupted(const CodingPath& path, const QString& debugDescription) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, path, debugDescription);
}

void throwKeyNotFound(const CodingPath& path, const QString& key) {
    throw DecodingError(DecodingError::Kind::keyNotFound, path,
                        QStringLiteral("No value associated with key \"%1\".").arg(key));
}

qint64 Coder<qint64>::decode(const QJsonValue& v, CodingPath& path) {
    if (!v.isDouble())
        throwTypeMismatch(path, "Int", v);
    // The parser keeps integers that fit in 64 bits exact; anything else arrives as a double, which is
    // accepted only when it is a whole number that a double holds exactly.
    const QCborValue cbor = QCborValue::fromJsonValue(v);
    if (cbor.isInteger())
        return cbor.toInteger();
    const double d = v.toDouble();
    constexpr double exactLimit = 9007199254740992.0; // 2^53
    if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) > exactLimit)
        throwDataCorrupted(path, QStringLiteral("Parsed JSON number <%1> does not fit in Int.").arg(d, 0, 'g', 17));
    return static_cast<qint64>(d);
}

QJsonValue parse(const QByteArray& data) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            QStringLiteral("The given data was not valid JSON. (%1 at offset %2)")
                                .arg(error.errorString())
                                .arg(error.offset));
    if (document.isArray())
        return document.array();
    if (document.isObject())
        return document.object();
    throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                        QStringLiteral("The given data was not valid JSON."));
}

QDateTime dateFromReferenceSeconds(double seconds) {
    if (!std::isfinite(seconds) || std::fabs(seconds) > dateLimitSeconds)
        throwDataCorrupted({}, QStringLiteral("Date out of range."));
    return referenceDate().addMSecs(static_cast<qint64>(std::llround(seconds * 1000.0)));
}

double referenceSecondsFromDate(const QDateTime& date) {
    if (!date.isValid())
        throw EncodingError({}, QStringLiteral("Invalid date."));
    return static_cast<double>(referenceDate().msecsTo(date)) / 1000.0;
}

QJsonValue Coder<double>::encode(double d) {
    if (!std::isfinite(d))
        throw EncodingError({}, QStringLiteral("Unable to encode %1 directly in JSON.").arg(d));
    return d;
}

QDateTime Coder<QDateTime>::decode(const QJsonValue& v, CodingPath& path) {
    if (!v.isDouble())
        throwTypeMismatch(path, "Double", v);
    const double seconds = v.toDouble();
    if (!std::isfinite(seconds) || std::fabs(seconds) > dateLimitSeconds)
        throwDataCorrupted(path, QStringLiteral("Date out of range."));
    return dateFromReferenceSeconds(seconds);
}

QJsonValue Coder<QDateTime>::encode(const QDateTime& d) {
    return referenceSecondsFromDate(d);
}

} // namespace coding
