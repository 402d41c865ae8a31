#pragma once

#include "app/Clock.h"

#include <QDateTime>
#include <QPointer>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// A clock that stands still until the test moves it. advance() runs every call that falls due, in the
// order of their deadlines, at once on the calling thread.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime::currentDateTime());

    QDateTime now() const override { return m_now; }
    std::unique_ptr<ScheduledCall> scheduleOnce(std::chrono::milliseconds interval, QObject* context,
                                                std::function<void()> callback) override;

    void advance(std::chrono::milliseconds by);
    // Calls still waiting for their deadline.
    int pendingCount() const;
    // The interval of the most recently scheduled call that is still pending.
    std::optional<std::chrono::milliseconds> lastPendingInterval() const;

private:
    struct Entry {
        qint64 deadline;
        std::chrono::milliseconds interval;
        qint64 sequence;
        QPointer<QObject> context;
        std::function<void()> callback;
        bool pending = true;
        bool cancelled = false;
    };
    class Handle;

    QDateTime m_start;
    QDateTime m_now;
    qint64 m_elapsed = 0;
    qint64 m_sequence = 0;
    std::vector<std::shared_ptr<Entry>> m_entries;
};
