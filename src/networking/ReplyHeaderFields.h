#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>

// The header fields of one exchange as libcurl hands them over, a line at a time: each reply's status line
// and fields (an interim reply's too) and, after a chunked body, the trailer fields. All those lines together
// have one size limit, of the same order as libcurl's own for a reply's head: a server that sends fields
// without end is refused once it passes it, instead of filling the memory. Every field counts the same
// wherever it stands.
class ReplyHeaderFields {
public:
    static constexpr qint64 defaultLimit = 256 * 1024;

    enum class Line { statusLine, field, end, refused };

    explicit ReplyHeaderFields(qint64 limit = defaultLimit)
        : m_limit(limit) {}

    // Takes one line, line end included. Once the limit is passed, this and every later line is refused.
    Line take(QByteArrayView line);

    qint64 limit() const { return m_limit; }
    // The fields of the latest reply, in the order they came, trailer fields last.
    const QList<QPair<QByteArray, QByteArray>>& fields() const { return m_fields; }
    QList<QPair<QByteArray, QByteArray>> takeFields() { return std::move(m_fields); }

private:
    qint64 m_limit;
    qint64 m_taken = 0;
    QList<QPair<QByteArray, QByteArray>> m_fields;
};
