#pragma once

// The coding rules every wire model follows. A model only lists its fields:
//
//   struct AlertModel {
//       std::optional<QString> title;
//       ...
//       static auto codingFields() { return std::tuple{coding::field("title", &AlertModel::title), ...}; }
//   };
//
// Missing key or null = absent; a present value of the wrong JSON type fails the whole value; unknown keys
// are ignored; integers are exact 64-bit values; dates are seconds since 2001-01-01 00:00:00 UTC; encoding
// writes present fields only, never null. A field marked secret is written in full, except in log text.

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <concepts>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace coding {

// One step of a coding path: an object key, or an index into an array.
struct CodingKey {
    QString stringValue;
    std::optional<int> intValue;

    static CodingKey key(const QString& name) { return {name, std::nullopt}; }
    static CodingKey index(int i) { return {QStringLiteral("Index %1").arg(i), i}; }
    bool operator==(const CodingKey&) const = default;
};

using CodingPath = std::vector<CodingKey>;

class DecodingError : public std::exception {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    DecodingError(Kind kind, CodingPath codingPath, QString debugDescription);

    Kind kind() const { return m_kind; }
    const CodingPath& codingPath() const { return m_codingPath; }
    const QString& debugDescription() const { return m_debugDescription; }
    // The coding path as "key.Index 0.key", for messages and tests.
    QString pathString() const;
    // The debug form of the failure context, like the platform decoder prints it.
    QString contextDescription() const;
    QString localizedDescription() const;
    // One line naming the kind, the path and what went wrong; never includes the decoded value.
    QString detailedDescription() const;

    const char* what() const noexcept override { return m_what.c_str(); }

private:
    Kind m_kind;
    CodingPath m_codingPath;
    QString m_debugDescription;
    std::string m_what;
};

// A value that has no JSON form (an invalid point in time, a non-finite number). Writing a stand-in would
// silently turn it into another value, so encoding stops instead.
class EncodingError : public std::exception {
public:
    EncodingError(CodingPath codingPath, QString debugDescription);

    const CodingPath& codingPath() const { return m_codingPath; }
    const QString& debugDescription() const { return m_debugDescription; }
    // The printed form of the error, as the log shows it.
    QString description() const;
    // Adds the key under which the failing value lies, outermost last.
    void prependKey(const CodingKey& key);

    const char* what() const noexcept override { return m_what.c_str(); }

private:
    CodingPath m_codingPath;
    QString m_debugDescription;
    std::string m_what;
};

// Log text renders secret fields (a PIN digest, an activation code) as a placeholder.
enum class EncodeMode { full, redactSecrets };

// The JSON type names used in the decoder's messages.
QString jsonTypeName(const QJsonValue& value);

// Parses JSON text; a syntax error is a dataCorrupted decoding error with the parser's message.
QJsonValue parse(const QByteArray& data);

// Seconds since 2001-01-01 00:00:00 UTC, the reference date of every coded point in time.
QDateTime dateFromReferenceSeconds(double seconds);
double referenceSecondsFromDate(const QDateTime& date);

template <typename Owner, typename T>
struct Field {
    const char* key;
    std::optional<T> Owner::* member;
    bool secret = false;
};

// A field that must be present in replies and is always written.
template <typename Owner, typename T>
struct RequiredField {
    const char* key;
    T Owner::* member;
};

template <typename Owner, typename T>
constexpr Field<Owner, T> field(const char* key, std::optional<T> Owner::* member) {
    return {key, member};
}

// A field whose value must never reach a log: encoded in full, but redacted in log text.
template <typename Owner, typename T>
constexpr Field<Owner, T> secretField(const char* key, std::optional<T> Owner::* member) {
    return {key, member, true};
}

template <typename Owner, typename T>
constexpr RequiredField<Owner, T> required(const char* key, T Owner::* member) {
    return {key, member};
}

template <typename T>
concept Model = requires { T::codingFields(); };

template <typename T>
struct Coder;

// Decodes a JSON value as T, with `path` naming where the value lies.
template <typename T>
T decodeValue(const QJsonValue& value, CodingPath& path) {
    return Coder<T>::decode(value, path);
}

template <typename T>
QJsonValue encodeValue(const T& value, EncodeMode mode = EncodeMode::full) {
    if constexpr (requires { Coder<T>::encode(value, mode); })
        return Coder<T>::encode(value, mode);
    else
        return Coder<T>::encode(value);
}

[[noreturn]] void throwTypeMismatch(const CodingPath& path, const char* expected, const QJsonValue& found);
[[noreturn]] void throwValueNotFound(const CodingPath& path, const char* expected);
[[noreturn]] void throwKeyNotFound(const CodingPath& path, const QString& key);
[[noreturn]] void throwDataCorrupted(const CodingPath& path, const QString& debugDescription);

template <>
struct Coder<QString> {
    static constexpr const char* typeName = "String";
    static QString decode(const QJsonValue& v, CodingPath& path) {
        if (!v.isString())
            throwTypeMismatch(path, "String", v);
        return v.toString();
    }
    static QJsonValue encode(const QString& s) { return s; }
};

template <>
struct Coder<qint64> {
    static constexpr const char* typeName = "Int";
    static qint64 decode(const QJsonValue& v, CodingPath& path);
    static QJsonValue encode(qint64 i) { return i; }
};

template <>
struct Coder<double> {
    static constexpr const char* typeName = "Double";
    static double decode(const QJsonValue& v, CodingPath& path) {
        if (!v.isDouble())
            throwTypeMismatch(path, "Double", v);
        return v.toDouble();
    }
    static QJsonValue encode(double d);
};

template <>
struct Coder<bool> {
    static constexpr const char* typeName = "Bool";
    static bool decode(const QJsonValue& v, CodingPath& path) {
        if (!v.isBool())
            throwTypeMismatch(path, "Bool", v);
        return v.toBool();
    }
    static QJsonValue encode(bool b) { return b; }
};

template <>
struct Coder<QDateTime> {
    static constexpr const char* typeName = "Date";
    static QDateTime decode(const QJsonValue& v, CodingPath& path);
    static QJsonValue encode(const QDateTime& d);
};

// A dynamically typed JSON value, taken as it stands.
template <>
struct Coder<QJsonValue> {
    static constexpr const char* typeName = "Any";
    static QJsonValue decode(const QJsonValue& v, CodingPath&) { return v; }
    static QJsonValue encode(const QJsonValue& v) { return v; }
};

template <typename T>
struct Coder<std::vector<T>> {
    static constexpr const char* typeName = "Array";
    static std::vector<T> decode(const QJsonValue& v, CodingPath& path) {
        if (!v.isArray())
            throwTypeMismatch(path, "Array<Any>", v);
        const QJsonArray array = v.toArray();
        std::vector<T> result;
        result.reserve(static_cast<size_t>(array.size()));
        for (int i = 0; i < array.size(); ++i) {
            path.push_back(CodingKey::index(i));
            if (array.at(i).isNull())
                throwValueNotFound(path, Coder<T>::typeName);
            result.push_back(Coder<T>::decode(array.at(i), path));
            path.pop_back();
        }
        return result;
    }
    static QJsonValue encode(const std::vector<T>& list, EncodeMode mode = EncodeMode::full) {
        QJsonArray array;
        for (int i = 0; i < static_cast<int>(list.size()); ++i) {
            try {
                array.append(encodeValue(list[static_cast<size_t>(i)], mode));
            } catch (EncodingError& e) {
                e.prependKey(CodingKey::index(i));
                throw;
            }
        }
        return array;
    }
};

template <Model T>
struct Coder<T> {
    static constexpr const char* typeName = "Dictionary<String, Any>";
    static T decode(const QJsonValue& v, CodingPath& path) {
        if (!v.isObject())
            throwTypeMismatch(path, "Dictionary<String, Any>", v);
        const QJsonObject object = v.toObject();
        T result{};
        std::apply([&](const auto&... f) { (decodeField(object, result, f, path), ...); }, T::codingFields());
        return result;
    }

    static QJsonValue encode(const T& value, EncodeMode mode = EncodeMode::full) {
        QJsonObject object;
        std::apply([&](const auto&... f) { (encodeField(object, value, f, mode), ...); }, T::codingFields());
        return object;
    }

private:
    template <typename V>
    static void decodeField(const QJsonObject& object, T& result, const Field<T, V>& f, CodingPath& path) {
        const auto it = object.constFind(QLatin1String(f.key));
        if (it == object.constEnd() || it->isNull() || it->isUndefined())
            return;
        path.push_back(CodingKey::key(QString::fromLatin1(f.key)));
        result.*(f.member) = Coder<V>::decode(*it, path);
        path.pop_back();
    }

    template <typename V>
    static void decodeField(const QJsonObject& object, T& result, const RequiredField<T, V>& f,
                            CodingPath& path) {
        const QString key = QString::fromLatin1(f.key);
        const auto it = object.constFind(key);
        if (it == object.constEnd())
            throwKeyNotFound(path, key);
        path.push_back(CodingKey::key(key));
        if (it->isNull())
            throwValueNotFound(path, Coder<V>::typeName);
        result.*(f.member) = Coder<V>::decode(*it, path);
        path.pop_back();
    }

    template <typename V>
    static void encodeField(QJsonObject& object, const T& value, const Field<T, V>& f, EncodeMode mode) {
        const auto& present = value.*(f.member);
        if (!present)
            return;
        if (f.secret && mode == EncodeMode::redactSecrets) {
            object.insert(QLatin1String(f.key), QStringLiteral("<redacted>"));
            return;
        }
        insertEncoded(object, f.key, *present, mode);
    }

    template <typename V>
    static void encodeField(QJsonObject& object, const T& value, const RequiredField<T, V>& f, EncodeMode mode) {
        insertEncoded(object, f.key, value.*(f.member), mode);
    }

    template <typename V>
    static void insertEncoded(QJsonObject& object, const char* key, const V& v, EncodeMode mode) {
        try {
            object.insert(QLatin1String(key), encodeValue(v, mode));
        } catch (EncodingError& e) {
            e.prependKey(CodingKey::key(QString::fromLatin1(key)));
            throw;
        }
    }
};

// Decodes a model (or list of models) from a parsed JSON value; throws DecodingError.
template <typename T>
T decode(const QJsonValue& value) {
    CodingPath path;
    return Coder<T>::decode(value, path);
}

// Decodes from JSON text; invalid JSON is a dataCorrupted error.
template <typename T>
T decode(const QByteArray& data) {
    return decode<T>(parse(data));
}

// Encodes a model (or list of models); throws EncodingError for a value without JSON form.
template <typename T>
QJsonValue encode(const T& value, EncodeMode mode = EncodeMode::full) {
    return encodeValue(value, mode);
}

// The names of a model's keys, in declaration order.
template <Model T>
QStringList codingKeys() {
    QStringList keys;
    std::apply([&](const auto&... f) { (keys.append(QString::fromLatin1(f.key)), ...); }, T::codingFields());
    return keys;
}

// A key from its text: exactly one of the model's field names, compared case-sensitively.
template <Model T>
std::optional<QString> codingKey(const QString& text) {
    if (codingKeys<T>().contains(text))
        return text;
    return std::nullopt;
}

} // namespace coding
