#include "ReplyHeaderFields.h"

ReplyHeaderFields::Line ReplyHeaderFields::take(QByteArrayView line) {
    if (m_taken > m_limit)
        return Line::refused;
    m_taken += line.size();
    if (m_taken > m_limit) {
        m_fields.clear();
        return Line::refused;
    }
    const QByteArrayView text = line.trimmed();
    if (text.startsWith("HTTP/")) {
        // A new reply (after an interim one): its fields replace those before, the bytes still count.
        m_fields.clear();
        return Line::statusLine;
    }
    if (text.isEmpty())
        return Line::end;
    const qsizetype colon = text.indexOf(':');
    if (colon > 0)
        m_fields.append(
            {text.first(colon).trimmed().toByteArray(), text.sliced(colon + 1).trimmed().toByteArray()});
    return Line::field;
}
