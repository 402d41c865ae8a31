#pragma once

#include "ui/controls/AppFont.h"

#include <QColor>
#include <QString>

class QLabel;
class QWidget;

// A fixed text of a screen in one face, size and colour of the shared look.
QLabel* makeText(const QString& text, FontFace face, qreal points, const QColor& color, QWidget* parent);
// Sets the colour of a text made above, or of any label.
void setTextColor(QLabel& label, const QColor& color);
