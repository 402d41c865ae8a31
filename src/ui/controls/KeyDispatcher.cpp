#include "KeyDispatcher.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <algorithm>

KeyDispatcher::Registration::Registration(Registration&& other) noexcept
    : m_dispatcher(std::exchange(other.m_dispatcher, nullptr))
    , m_id(std::exchange(other.m_id, 0)) {}

KeyDispatcher::Registration& KeyDispatcher::Registration::operator=(Registration&& other) noexcept {
    if (this != &other) {
        reset();
        m_dispatcher = std::exchange(other.m_dispatcher, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

void KeyDispatcher::Registration::reset() {
    if (m_dispatcher && m_id != 0)
        m_dispatcher->remove(m_id);
    m_dispatcher = nullptr;
    m_id = 0;
}

KeyDispatcher::KeyDispatcher(QObject* parent)
    : QObject(parent) {}

KeyDispatcher& KeyDispatcher::instance() {
    static QPointer<KeyDispatcher> dispatcher;
    if (!dispatcher) {
        Q_ASSERT(qApp);
        dispatcher = new KeyDispatcher(qApp);
        qApp->installEventFilter(dispatcher);
    }
    return *dispatcher;
}

KeyDispatcher::Registration KeyDispatcher::add(KeyHandler handler) {
    const quint64 id = m_nextId++;
    m_handlers.insert(m_handlers.begin(), Entry{id, std::make_shared<KeyHandler>(std::move(handler))});
    return Registration(this, id);
}

void KeyDispatcher::remove(quint64 id) {
    std::erase_if(m_handlers, [id](const Entry& entry) { return entry.id == id; });
}

bool KeyDispatcher::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        m_lastPress = nullptr;
        return false;
    }
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* receiver = static_cast<QWidget*>(watched);
    // Qt hands an unaccepted press on to the parent widgets, the same event object each time. The window
    // handle sees it too, before the widgets; handlers are offered it at the first widget only.
    const bool propagated =
        event == m_lastPress && (!m_lastReceiver || receiver->isAncestorOf(m_lastReceiver));
    m_lastPress = event;
    m_lastReceiver = receiver;
    if (propagated)
        return false;
    return dispatch(*static_cast<QKeyEvent*>(event));
}

bool KeyDispatcher::dispatch(QKeyEvent& event) {
    // A handler may add or remove handlers (a screen it hides or shows); work on a snapshot and skip
    // whoever was removed meanwhile.
    std::vector<Entry> snapshot = m_handlers;
    for (const Entry& entry : snapshot) {
        const bool stillRegistered = std::any_of(m_handlers.begin(), m_handlers.end(),
                                                 [&](const Entry& current) { return current.id == entry.id; });
        if (stillRegistered && (*entry.handler)(event)) {
            event.accept();
            return true;
        }
    }
    return event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab;
}

bool isReturnKey(const QKeyEvent& event) {
    return event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter;
}
