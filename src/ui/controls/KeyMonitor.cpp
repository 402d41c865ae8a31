#include "KeyMonitor.h"

#include <QEvent>
#include <QWidget>

KeyMonitor::KeyMonitor(QWidget* owner, KeyHandler handler)
    : QObject(owner)
    , m_owner(owner)
    , m_handler(std::move(handler)) {
    owner->installEventFilter(this);
    if (owner->isVisible())
        m_registration = KeyDispatcher::instance().add(m_handler);
}

bool KeyMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_owner) {
        if (event->type() == QEvent::Show && !m_registration)
            m_registration = KeyDispatcher::instance().add(m_handler);
        else if (event->type() == QEvent::Hide)
            m_registration.reset();
    }
    return false;
}
