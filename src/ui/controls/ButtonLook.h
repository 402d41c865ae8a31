#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QPushButton;

// What every styled button shares: the font, the pointing hand, and no keyboard focus of its own (focus
// is the app state's focused field, drawn by a focus frame).
void prepareStyledButton(QPushButton& button, const QFont& font);
// A colour as a style-sheet value, alpha included.
QString cssColor(const QColor& color);
