#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QKeyEvent;
class QWidget;

// Decides what a key press does: returns true when it acted on the key (the key then goes no further),
// false to let it reach the focused widget as usual.
using KeyHandler = std::function<bool(QKeyEvent& event)>;

// The application's one key monitor: an event filter on the application that offers every key press to
// the registered handlers, newest first, until one consumes it. Qt shows a filter the same press again
// for each parent widget it propagates to; the dispatcher offers it only once.
//
// Tab and Shift+Tab never reach a widget, even when no handler consumes them: focus moves by the
// handlers' own tables through the app state's focused field, never by Qt's focus chain.
class KeyDispatcher : public QObject {
    Q_OBJECT

public:
    // Removes its handler when it goes away; move-only. Keep it as long as the handler should run.
    class Registration {
    public:
        Registration() = default;
        ~Registration() { reset(); }
        Registration(Registration&& other) noexcept;
        Registration& operator=(Registration&& other) noexcept;
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;

        // Removes the handler now; does nothing when there is none.
        void reset();
        explicit operator bool() const { return m_id != 0; }

    private:
        friend class KeyDispatcher;
        Registration(KeyDispatcher* dispatcher, quint64 id)
            : m_dispatcher(dispatcher)
            , m_id(id) {}

        QPointer<KeyDispatcher> m_dispatcher;
        quint64 m_id = 0;
    };

    // The dispatcher of the running application, installed on first use. Needs a QApplication.
    static KeyDispatcher& instance();

    // Adds `handler` in front of the others. A handler added while a key is being dispatched first sees
    // the next key.
    [[nodiscard]] Registration add(KeyHandler handler);
    // Handlers registered now.
    int handlerCount() const { return static_cast<int>(m_handlers.size()); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit KeyDispatcher(QObject* parent);
    void remove(quint64 id);
    bool dispatch(QKeyEvent& event);

    struct Entry {
        quint64 id;
        std::shared_ptr<KeyHandler> handler;
    };
    std::vector<Entry> m_handlers;
    quint64 m_nextId = 1;
    // The press last offered and the widget it was last seen at, to tell its propagation to the parents
    // from a new press.
    const QEvent* m_lastPress = nullptr;
    QPointer<QWidget> m_lastReceiver;
};

// Return and Enter, the keys of "the action of the focused control".
bool isReturnKey(const QKeyEvent& event);
