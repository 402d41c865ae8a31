#include "ButtonLook.h"

#include <QPushButton>

void prepareStyledButton(QPushButton& button, const QFont& font) {
    button.setFont(font);
    button.setFocusPolicy(Qt::NoFocus);
    button.setAutoDefault(false);
    button.setDefault(false);
    button.setCursor(Qt::PointingHandCursor);
}

QString cssColor(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}
