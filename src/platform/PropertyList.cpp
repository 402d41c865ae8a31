#include "PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QXmlStreamReader>

namespace plist {

namespace {

// Far deeper than any real property list; a hostile file nested without end would otherwise exhaust the
// stack of this recursive reader.
constexpr int maximumDepth = 64;

class Reader {
public:
    explicit Reader(const QByteArray& xml)
        : m_xml(xml) {}

    std::optional<QVariant> read(QString* error) {
        std::optional<QVariant> root;
        while (!m_xml.atEnd() && !m_failed) {
            m_xml.readNext();
            if (!m_xml.isStartElement())
                continue;
            if (m_xml.name() == QLatin1String("plist")) {
                if (!nextElement())
                    break;
                root = readValue();
                break;
            }
            fail(QStringLiteral("expected <plist>, found <%1>").arg(m_xml.name()));
        }
        if (m_xml.hasError() && !m_failed)
            fail(m_xml.errorString());
        if (!m_failed && !root)
            fail(QStringLiteral("no value in the property list"));
        if (m_failed) {
            if (error)
                *error = m_error;
            return std::nullopt;
        }
        return root;
    }

private:
    // Moves to the next start element inside the current one; false at its end.
    bool nextElement() {
        while (!m_xml.atEnd()) {
            m_xml.readNext();
            if (m_xml.isStartElement())
                return true;
            if (m_xml.isEndElement())
                return false;
            if (m_xml.isCharacters() && !m_xml.isWhitespace()) {
                fail(QStringLiteral("unexpected text \"%1\"").arg(m_xml.text()));
                return false;
            }
        }
        return false;
    }

    QVariant readValue() {
        const auto name = m_xml.name();
        if (name == QLatin1String("dict") || name == QLatin1String("array")) {
            if (m_depth >= maximumDepth) {
                fail(QStringLiteral("nested deeper than %1 levels").arg(maximumDepth));
                return {};
            }
            ++m_depth;
            QVariant value = name == QLatin1String("dict") ? readDict() : readArray();
            --m_depth;
            return value;
        }
        if (name == QLatin1String("true") || name == QLatin1String("false")) {
            const bool value = name == QLatin1String("true");
            m_xml.skipCurrentElement();
            return value;
        }
        const QString tag = name.toString();
        const QString text = m_xml.readElementText();
        if (tag == QLatin1String("string"))
            return text;
        if (tag == QLatin1String("integer")) {
            bool ok = false;
            const qint64 value = text.trimmed().toLongLong(&ok);
            if (!ok)
                fail(QStringLiteral("bad integer \"%1\"").arg(text));
            return value;
        }
        if (tag == QLatin1String("real")) {
            bool ok = false;
            const double value = text.trimmed().toDouble(&ok);
            if (!ok)
                fail(QStringLiteral("bad real \"%1\"").arg(text));
            return value;
        }
        if (tag == QLatin1String("date")) {
            QDateTime value = QDateTime::fromString(text.trimmed(), Qt::ISODate);
            if (!value.isValid())
                fail(QStringLiteral("bad date \"%1\"").arg(text));
            return value.toUTC();
        }
        if (tag == QLatin1String("data")) {
            const auto decoded =
                QByteArray::fromBase64Encoding(text.simplified().remove(QLatin1Char(' ')).toLatin1(),
                                               QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                fail(QStringLiteral("bad data"));
            return *decoded;
        }
        fail(QStringLiteral("unknown element <%1>").arg(tag));
        return {};
    }

    QVariant readDict() {
        QVariantMap map;
        while (!m_failed && nextElement()) {
            if (m_xml.name() != QLatin1String("key")) {
                fail(QStringLiteral("expected <key> in <dict>"));
                break;
            }
            const QString key = m_xml.readElementText();
            if (!nextElement()) {
                fail(QStringLiteral("key \"%1\" has no value").arg(key));
                break;
            }
            map.insert(key, readValue());
        }
        return map;
    }

    QVariant readArray() {
        QVariantList list;
        while (!m_failed && nextElement())
            list.append(readValue());
        return list;
    }

    void fail(const QString& message) {
        if (m_failed)
            return;
        m_failed = true;
        m_error = QStringLiteral("line %1: %2").arg(m_xml.lineNumber()).arg(message);
    }

    QXmlStreamReader m_xml;
    int m_depth = 0;
    bool m_failed = false;
    QString m_error;
};

} // namespace

std::optional<QVariant> parse(const QByteArray& xml, QString* error) {
    return Reader(xml).read(error);
}

std::optional<QVariantMap> readDictionary(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    const auto root = parse(file.readAll(), error);
    if (!root)
        return std::nullopt;
    if (root->typeId() != QMetaType::QVariantMap) {
        if (error)
            *error = QStringLiteral("the root of the property list is not a dictionary");
        return std::nullopt;
    }
    return root->toMap();
}

} // namespace plist
