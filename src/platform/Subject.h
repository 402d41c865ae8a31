#pragma once

#include "Publisher.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace rx {

namespace detail {

// The subscribers of a subject or published value, held weakly: their AnyCancellables own them.
template <typename T> class SubscriberList {
public:
    // Adds `subscriber`; cancelling it takes it off the list again.
    void add(const std::shared_ptr<SubscriberList>& self, const SubscriberPtr<T>& subscriber) {
        m_subscribers.push_back(subscriber);
        subscriber->setUpstream(std::make_shared<Removal>(self, subscriber));
    }

    // Delivers to a snapshot, so handlers may subscribe or cancel while it runs.
    void send(const T& value) {
        for (const auto& weak : snapshot())
            if (auto subscriber = weak.lock())
                subscriber->receive(value);
    }

    void complete(const Error& error) {
        for (const auto& weak : std::exchange(m_subscribers, {}))
            if (auto subscriber = weak.lock())
                subscriber->complete(error);
    }

    bool empty() {
        prune();
        return m_subscribers.empty();
    }

private:
    class Removal final : public Cancellable {
    public:
        Removal(const std::weak_ptr<SubscriberList>& list, const std::weak_ptr<Subscriber<T>>& subscriber)
            : m_list(list)
            , m_subscriber(subscriber) {}
        void cancel() override {
            if (auto list = m_list.lock())
                list->remove(m_subscriber);
        }

    private:
        std::weak_ptr<SubscriberList> m_list;
        std::weak_ptr<Subscriber<T>> m_subscriber;
    };

    std::vector<std::weak_ptr<Subscriber<T>>> snapshot() {
        prune();
        return m_subscribers;
    }

    void prune() {
        std::erase_if(m_subscribers, [](const auto& weak) { return weak.expired(); });
    }

    void remove(const std::weak_ptr<Subscriber<T>>& subscriber) {
        std::erase_if(m_subscribers, [&](const auto& weak) {
            return weak.expired() || (!weak.owner_before(subscriber) && !subscriber.owner_before(weak));
        });
    }

    std::vector<std::weak_ptr<Subscriber<T>>> m_subscribers;
};

} // namespace detail

namespace detail {

// What subjects and published values share: the subscribers, the completion that ends them all, and
// for value holders the current value, which a new subscriber gets at once. Copies share one state.
template <typename T> class SubjectCore {
public:
    // Ends the stream for every subscriber, now and later; a second completion is ignored.
    void sendCompletion(Error error = nullptr) const {
        if (m_state->completion)
            return;
        m_state->completion = error;
        m_state->subscribers->complete(error);
    }

    bool hasSubscribers() const { return !m_state->subscribers->empty(); }

    Publisher<T> eraseToAnyPublisher() const {
        return Publisher<T>([state = m_state](const SubscriberPtr<T>& subscriber) {
            if (state->completion) {
                subscriber->complete(*state->completion);
                return;
            }
            state->subscribers->add(state->subscribers, subscriber);
            if (state->current)
                subscriber->receive(*state->current);
        });
    }

    template <typename V>
    [[nodiscard]] AnyCancellable sink(V onValue,
                                      typename Subscriber<T>::CompletionHandler onCompletion = {}) const {
        return eraseToAnyPublisher().sink(std::move(onValue), std::move(onCompletion));
    }

protected:
    explicit SubjectCore(std::optional<T> current)
        : m_state(std::make_shared<State>(std::move(current))) {}

    bool completed() const { return m_state->completion.has_value(); }

    void deliver(const T& value) const {
        if (!completed())
            m_state->subscribers->send(value);
    }

    void store(T value) const { m_state->current = std::move(value); }
    const T& current() const { return *m_state->current; }

private:
    struct State {
        explicit State(std::optional<T> initial)
            : current(std::move(initial)) {}
        std::optional<T> current;
        std::shared_ptr<SubscriberList<T>> subscribers = std::make_shared<SubscriberList<T>>();
        std::optional<Error> completion;
    };
    std::shared_ptr<State> m_state;
};

} // namespace detail

// Passes each value it is sent to the subscribers it has at that moment. Copies share one subject.
template <typename T> class PassthroughSubject : public detail::SubjectCore<T> {
public:
    PassthroughSubject()
        : detail::SubjectCore<T>(std::nullopt) {}

    void send(const T& value) const { this->deliver(value); }
};

// Holds a current value: a new subscriber gets it at once, and send() stores the value before it
// delivers it. Copies share one subject.
template <typename T> class CurrentValueSubject : public detail::SubjectCore<T> {
public:
    explicit CurrentValueSubject(T value)
        : detail::SubjectCore<T>(std::move(value)) {}

    const T& value() const { return this->current(); }

    void send(T value) const {
        if (this->completed())
            return;
        this->store(value);
        // Delivered from a copy: a handler that sends again replaces the stored value, and the
        // subscribers after it must still be given this one.
        this->deliver(value);
    }
};

} // namespace rx
