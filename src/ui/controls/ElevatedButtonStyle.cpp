#include "ElevatedButtonStyle.h"

#include "AppFont.h"
#include "ButtonLook.h"
#include "SemanticColor.h"

#include <QPushButton>

void ElevatedButtonStyle::apply(QPushButton& button) const {
    constexpr double pressedOpacity = 0.9;
    prepareStyledButton(button, appFont(FontFace::medium, 16.5));
    button.setFixedWidth(width);
    QColor pressed = namedColor(QStringLiteral("Yellow"));
    pressed.setAlphaF(pressedOpacity);
    button.setStyleSheet(
        QStringLiteral("QPushButton { color: %1; background: %2; border: none; padding: 10px; }"
                       "QPushButton:pressed { background: %3; }")
            .arg(cssColor(foregroundColor), cssColor(namedColor(QStringLiteral("Yellow"))), cssColor(pressed)));
}
