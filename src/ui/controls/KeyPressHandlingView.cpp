#include "KeyPressHandlingView.h"

#include "KeyDispatcher.h"

#include <QKeyEvent>
#include <QTimer>

KeyPressHandlingView::KeyPressHandlingView(std::function<void()> onEnterPressed, QWidget* parent)
    : QWidget(parent)
    , m_onEnterPressed(std::move(onEnterPressed)) {
    setFocusPolicy(Qt::StrongFocus);
}

bool KeyPressHandlingView::event(QEvent* event) {
    // Tab would otherwise move Qt's focus chain before keyPressEvent sees it.
    if (event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    return QWidget::event(event);
}

void KeyPressHandlingView::keyPressEvent(QKeyEvent* event) {
    if (isReturnKey(*event) && m_onEnterPressed)
        m_onEnterPressed();
    event->accept();
}

void KeyPressHandlingView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
}
