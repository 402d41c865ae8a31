#include "ListButtonStyle.h"

#include "AppFont.h"
#include "ButtonLook.h"

#include <QLabel>
#include <QPushButton>

void ListButtonStyle::apply(QPushButton& button) const {
    prepareStyledButton(button, appFont(FontFace::medium, 12));
    button.setFixedWidth(width);
    // A label inside the row, such as a name that wraps, draws like the row's own text. Under a style sheet
    // the row's font no longer passes to its children, so the label is given it.
    for (QLabel* label : button.findChildren<QLabel*>())
        label->setFont(button.font());
    button.setStyleSheet(
        QStringLiteral("QPushButton { color: %1; background: %2; border: none; padding: 0px; }"
                       "QPushButton:pressed { background: %3; }"
                       "QLabel { color: %1; background: transparent; }")
            .arg(cssColor(foregroundColor), cssColor(backgroundColor), cssColor(pressedColor)));
}
