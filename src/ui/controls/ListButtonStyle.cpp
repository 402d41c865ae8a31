#include "ListButtonStyle.h"

#include "AppFont.h"
#include "ButtonLook.h"

#include <QPushButton>

void ListButtonStyle::apply(QPushButton& button) const {
    prepareStyledButton(button, appFont(FontFace::medium, 12));
    button.setFixedWidth(width);
    button.setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: none; padding: 0px; }"
                                        "QPushButton:pressed { background: %3; }")
                             .arg(cssColor(foregroundColor), cssColor(backgroundColor), cssColor(pressedColor)));
}
