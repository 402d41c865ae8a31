#pragma once

#include <QDateTime>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

// A pending one-shot call made by Clock::scheduleOnce(). Destroying it cancels the call.
class ScheduledCall {
public:
    virtual ~ScheduledCall() = default;
    // True until the call has run.
    virtual bool isPending() const = 0;
};

// The time source of the app state: the current time and one-shot timers. The program uses the system
// clock; tests drive a manual one, so a two-minute idle timer takes no two minutes.
class Clock {
public:
    virtual ~Clock() = default;

    virtual QDateTime now() const = 0;
    // Calls `callback` once, on the main thread, when `interval` has passed (at once for an interval of
    // zero or below). The call is dropped when `context` is destroyed first.
    virtual std::unique_ptr<ScheduledCall> scheduleOnce(std::chrono::milliseconds interval, QObject* context,
                                                        std::function<void()> callback) = 0;

    // The wall clock and precise Qt timers. Intervals longer than a Qt timer can hold are waited out in
    // several laps.
    static Clock& system();
};
