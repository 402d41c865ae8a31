#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// A reader of the XML property-list format: dictionaries become QVariantMap, arrays QVariantList, strings
// QString, integers qint64, reals double, booleans bool, dates QDateTime (UTC) and data QByteArray.
namespace plist {

// The root value of a property-list document; nothing (and `error` set) when the text is not one.
std::optional<QVariant> parse(const QByteArray& xml, QString* error = nullptr);

// The root dictionary of a property-list file; nothing when the file is missing, unreadable or its root is
// not a dictionary.
std::optional<QVariantMap> readDictionary(const QString& path, QString* error = nullptr);

} // namespace plist
