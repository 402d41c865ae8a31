#include "TextLook.h"

#include <QLabel>
#include <QPalette>

QLabel* makeText(const QString& text, FontFace face, qreal points, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(appFont(face, points));
    setTextColor(*label, color);
    return label;
}

void setTextColor(QLabel& label, const QColor& color) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, color);
    label.setPalette(palette);
}
