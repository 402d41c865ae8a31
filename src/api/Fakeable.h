#pragma once

// Placeholder values of common value types and of lists and dictionaries built from them.
//
//   Fakeable<QString>::fake()                                  -> "test"
//   Fakeable<std::map<QString, std::vector<bool>>>::fake()     -> {"test": {true}}
//
// Every call builds a new value.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QTimeZone>

#include <array>
#include <concepts>
#include <exception>
#include <map>
#include <string>
#include <vector>

// An error identified by a domain name and a code, the shape of the platform's generic error objects.
class DomainError : public std::exception {
public:
    DomainError(QString domain, qint64 code)
        : m_domain(std::move(domain))
        , m_code(code)
        , m_what(QStringLiteral("%1 error %2").arg(m_domain).arg(m_code).toStdString()) {}

    const QString& domain() const { return m_domain; }
    qint64 code() const { return m_code; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    QString m_domain;
    qint64 m_code;
    std::string m_what;
};

// Adopters specialise this with `using FakeValue` and `static FakeValue fake()`.
template <typename T> struct Fakeable;

template <typename T>
concept HasFake = requires {
    typename Fakeable<T>::FakeValue;
    { Fakeable<T>::fake() } -> std::same_as<typename Fakeable<T>::FakeValue>;
};

// A list or dictionary can only hold a placeholder that is a value of its element type. Types whose
// placeholder is something else (FakeError) therefore give their containers no placeholder at all:
// asking for one does not compile, and the compiler names the unmet requirement.
template <typename E>
concept CanConstructElementFromFake = HasFake<E> && std::same_as<typename Fakeable<E>::FakeValue, E>;

template <typename K, typename V>
concept CanConstructKeyValueFromFake = CanConstructElementFromFake<K> && CanConstructElementFromFake<V>;

// Has no values; only its placeholder, a generic error object, is ever used.
enum class FakeError {};

template <> struct Fakeable<double> {
    using FakeValue = double;
    static FakeValue fake() { return 0.1; }
};

template <> struct Fakeable<QString> {
    using FakeValue = QString;
    static FakeValue fake() { return QStringLiteral("test"); }
};

// The word-size integer and the 64-bit integer, whether or not they are one type on this platform.
template <typename T>
requires std::same_as<T, qsizetype> || std::same_as<T, qint64>
struct Fakeable<T> {
    using FakeValue = T;
    static FakeValue fake() { return 0; }
};

template <> struct Fakeable<QByteArray> {
    using FakeValue = QByteArray;
    static FakeValue fake() { return {}; }
};

// 2018-01-01 09:30:00 GMT, the same instant on every call.
template <> struct Fakeable<QDateTime> {
    using FakeValue = QDateTime;
    static FakeValue fake() { return QDateTime(QDate(2018, 1, 1), QTime(9, 30), QTimeZone::utc()); }
};

template <> struct Fakeable<bool> {
    using FakeValue = bool;
    static FakeValue fake() { return true; }
};

template <typename E> struct Fakeable<std::vector<E>> {
    using FakeValue = std::vector<E>;
    static FakeValue fake() requires CanConstructElementFromFake<E> {
        FakeValue list;
        list.push_back(Fakeable<E>::fake());
        return list;
    }
};

template <typename K, typename V> struct Fakeable<std::map<K, V>> {
    using FakeValue = std::map<K, V>;
    static FakeValue fake() requires CanConstructKeyValueFromFake<K, V> {
        FakeValue dictionary;
        dictionary.emplace(Fakeable<K>::fake(), Fakeable<V>::fake());
        return dictionary;
    }
};

template <> struct Fakeable<FakeError> {
    using FakeValue = std::exception_ptr;
    static FakeValue fake() { return std::make_exception_ptr(DomainError(QStringLiteral("test"), -1)); }
};

// Names for sample data.
inline constexpr std::array<const char*, 17> sampleNames{
    "Apple", "Peach",  "Orange", "Banana", "Melon", "Watermelon", "Mandarin", "Mulberries", "Lemon",
    "Lime",  "Loquat", "Longan", "Lychee", "Grape", "Pear",       "Kiwi",     "Mango"};
