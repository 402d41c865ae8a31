#pragma once

#include <QString>
#include <QStringView>

#include <functional>

// The program's trace lines on standard output. `print` writes the text itself, `debugPrint` writes it in
// its quoted, escaped form. Both may be called from any thread; each call is one whole line.
namespace console {

void print(QStringView text);
void debugPrint(QStringView text);

// The quoted form: the text between double quotes, with \\ \" \' \t \r \n \0 and \u{...} escapes.
QString debugForm(QStringView text);

// Tests capture the lines here instead of reading standard output. An empty function restores stdout.
using Sink = std::function<void(const QString& line)>;
void setSink(Sink sink);

} // namespace console
