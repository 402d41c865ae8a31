#include "DialogButtonStyle.h"

#include "AppFont.h"
#include "ButtonLook.h"
#include "SemanticColor.h"

#include <QPushButton>

void DialogButtonStyle::apply(QPushButton& button) const {
    prepareStyledButton(button, appFont(FontFace::medium, 14));
    button.setFixedWidth(width);
    button.setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: none;"
                                        " padding: 5px 10px; }"
                                        "QPushButton:pressed { background: %3; }")
                             .arg(cssColor(namedColor(QStringLiteral("BlueGray"))),
                                  cssColor(namedColor(QStringLiteral("Yellow"))),
                                  cssColor(namedColor(QStringLiteral("DarkGray")))));
}
