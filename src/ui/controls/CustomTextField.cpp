#include "CustomTextField.h"

#include "KeyDispatcher.h"

#include "platform/Console.h"

#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

CustomTextField::CustomTextField(bool isSecure, Qt::Alignment alignment, QWidget* parent)
    : QLineEdit(parent) {
    setFrame(false);
    setAlignment(alignment);
    setEchoMode(isSecure ? QLineEdit::Password : QLineEdit::Normal);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0px; }"));
    connect(this, &QLineEdit::textEdited, this, &CustomTextField::userChangedText);
}

void CustomTextField::handleTap() {
    if (m_tapAction)
        m_tapAction();
}

void CustomTextField::handleLongPress() {
    if (m_longPressAction)
        m_longPressAction();
}

void CustomTextField::userChangedText(const QString& text) {
    if (!m_editing) {
        m_editing = true;
        console::print(u"NSTextField clicked/focused");
        handleTap();
    }
    emit textWritten(text);
    QTimer::singleShot(0, this, [this] {
        if (m_onValueChange)
            m_onValueChange(this->text());
    });
}

void CustomTextField::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    handleTap();
}

void CustomTextField::keyPressEvent(QKeyEvent* event) {
    if (isReturnKey(*event)) {
        console::print(u"Enter pressed");
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void CustomTextField::focusOutEvent(QFocusEvent* event) {
    m_editing = false;
    QLineEdit::focusOutEvent(event);
}
