#include "Console.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>

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

void print(QStringView text) { writeLine(text.toString()); }

void debugPrint(QStringView text) { writeLine(debugForm(text)); }

QString debugForm(QStringView text) {
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (const char32_t c : text.toString().toUcs4()) {
        switch (c) {
        case U'"': out += QStringLiteral("\\\""); break;
        case U'\\': out += QStringLiteral("\\\\"); break;
        case U'\n': out += QStringLiteral("\\n"); break;
        case U'\r': out += QStringLiteral("\\r"); break;
        case U'\t': out += QStringLiteral("\\t"); break;
        case U'\0': out += QStringLiteral("\\0"); break;
        default:
            if (c < 0x20 || c == 0x7f)
                out += QStringLiteral("\\u{%1}").arg(uint(c), 0, 16);
            else
                out += QString::fromUcs4(&c, 1);
        }
    }
    out += u'"';
    return out;
}

void setSink(Sink sink) {
    QMutexLocker lock(&sinkMutex());
    currentSink() = std::move(sink);
}

} // namespace console
