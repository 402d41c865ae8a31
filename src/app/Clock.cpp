#include "Clock.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

class TimerCall final : public ScheduledCall {
public:
    TimerCall(std::chrono::milliseconds interval, QObject* context, std::function<void()> callback)
        : m_remaining(std::max<std::chrono::milliseconds>(interval, std::chrono::milliseconds::zero()))
        , m_context(context)
        , m_callback(std::move(callback)) {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { lap(); });
        armNextLap();
    }

    bool isPending() const override { return m_pending; }

private:
    void armNextLap() {
        constexpr auto longest = std::chrono::milliseconds(std::numeric_limits<int>::max());
        const auto step = std::min(m_remaining, longest);
        m_remaining -= step;
        m_timer.start(step);
    }

    void lap() {
        if (m_remaining.count() > 0) {
            armNextLap();
            return;
        }
        m_pending = false;
        if (m_context) {
            // The callback may destroy this object (its owner replaces the handle), so run a copy.
            auto callback = m_callback;
            callback();
        }
    }

    std::chrono::milliseconds m_remaining;
    QPointer<QObject> m_context;
    std::function<void()> m_callback;
    QTimer m_timer;
    bool m_pending = true;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }

    std::unique_ptr<ScheduledCall> scheduleOnce(std::chrono::milliseconds interval, QObject* context,
                                                std::function<void()> callback) override {
        return std::make_unique<TimerCall>(interval, context, std::move(callback));
    }
};

} // namespace

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}
