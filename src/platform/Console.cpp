#include "Console.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <cstdio>

namespace console {
namespace {

QMutex& sinkMutex() {
    static QMutex mutex;
    return mutex;
}

Sink& currentSink() {
    static Sink sink;
    return sink;
}

void writeLine(const QString& line) {
    QMutexLocker lock(&sinkMutex());
    if (const Sink& sink = currentSink()) {
        sink(line);
        return;
    }
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

void print(QStringView text) {
    writeLine(text.toString());
}

void debugPrint(QStringView text) {
    writeLine(debugForm(text));
}

QString debugForm(QStringView text) {
    const auto needsEscape = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == u'\\' || u == u'"' || u == u'\'';
    };
    if (std::none_of(text.cbegin(), text.cend(), needsEscape))
        return QLatin1Char('"') + text.toString() + QLatin1Char('"');
    QString out;
    out.reserve(text.size() + text.size() / 8 + 8);
    out += QLatin1Char('"');
    // Only characters below U+00A0 are ever escaped, so UTF-16 units (surrogates included) are copied as they
    // are.
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        switch (c) {
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'"':
            out += QLatin1String("\\\"");
            break;
        case u'\'':
            out += QLatin1String("\\'");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\0':
            out += QLatin1String("\\0");
            break;
        default:
            if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
                out += QStringLiteral("\\u{") + QString::number(static_cast<uint>(c), 16).toUpper() +
                       QLatin1Char('}');
            else
                out += qc;
        }
    }
    out += QLatin1Char('"');
    return out;
}

void setSink(Sink sink) {
    QMutexLocker lock(&sinkMutex());
    currentSink() = std::move(sink);
}

} // namespace console
