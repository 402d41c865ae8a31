#pragma once

#include "Cancellable.h"

#include <exception>
#include <functional>
#include <memory>
#include <utility>

namespace rx {

// A stream's failure. A null pointer in a completion means the stream finished normally.
using Error = std::exception_ptr;

// The value of streams that only say "something happened".
struct Void {
    bool operator==(const Void&) const = default;
};

// The receiving end of one subscription. It enforces the stream contract whatever the upstream does:
// no value after the completion, one completion at most, and nothing at all once cancelled.
//
// Ownership runs from downstream to upstream: a subscriber owns the upstream that feeds it (dropping or
// cancelling it stops that upstream), while upstreams only point back weakly. So the whole chain hangs
// off the AnyCancellable at its end and is freed with it, without cycles.
//
// Not thread-safe: a subscriber is used on one thread (the main thread in this program); the
// receive-on-main-thread operator is the one way across threads.
template <typename T>
class Subscriber final : public Cancellable, public std::enable_shared_from_this<Subscriber<T>> {
public:
    using ValueHandler = std::function<void(const T&)>;
    using CompletionHandler = std::function<void(Error)>;

    static std::shared_ptr<Subscriber> create(ValueHandler onValue, CompletionHandler onCompletion = {}) {
        return std::shared_ptr<Subscriber>(new Subscriber(std::move(onValue), std::move(onCompletion)));
    }

    ~Subscriber() override {
        if (auto upstream = std::exchange(m_upstream, nullptr))
            upstream->cancel();
    }

    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    bool isActive() const { return m_state == State::active; }

    // Takes over what keeps the upstream running. A replaced upstream is cancelled; one handed to a
    // subscriber that already ended is cancelled at once.
    void setUpstream(std::shared_ptr<Cancellable> upstream) {
        if (!isActive()) {
            if (upstream)
                upstream->cancel();
            return;
        }
        if (auto old = std::exchange(m_upstream, std::move(upstream)); old && old != m_upstream)
            old->cancel();
    }

    void receive(const T& value) {
        if (!isActive())
            return;
        // A handler may cancel this subscription or drop the last owner of this object.
        const auto keepAlive = this->shared_from_this();
        const auto handlers = m_handlers;
        if (handlers && handlers->onValue)
            handlers->onValue(value);
    }

    void complete(Error error = nullptr) {
        if (!isActive())
            return;
        m_state = State::completed;
        const auto keepAlive = this->shared_from_this();
        const auto handlers = std::exchange(m_handlers, nullptr);
        if (auto upstream = std::exchange(m_upstream, nullptr))
            upstream->cancel();
        if (handlers && handlers->onCompletion)
            handlers->onCompletion(std::move(error));
    }

    void cancel() override {
        if (!isActive())
            return;
        m_state = State::cancelled;
        const auto keepAlive = this->weak_from_this().lock();
        m_handlers.reset();
        if (auto upstream = std::exchange(m_upstream, nullptr))
            upstream->cancel();
    }

private:
    enum class State { active, completed, cancelled };

    struct Handlers {
        ValueHandler onValue;
        CompletionHandler onCompletion;
    };

    Subscriber(ValueHandler onValue, CompletionHandler onCompletion)
        : m_handlers(std::make_shared<Handlers>(Handlers{std::move(onValue), std::move(onCompletion)})) {}

    State m_state = State::active;
    std::shared_ptr<Handlers> m_handlers;
    std::shared_ptr<Cancellable> m_upstream;
};

template <typename T> using SubscriberPtr = std::shared_ptr<Subscriber<T>>;

} // namespace rx
