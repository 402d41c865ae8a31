#pragma once

// A small reactive layer: cold publishers of values of one type that end once, with a finish or a
// failure (any exception). Subscribing runs the publisher's work; the AnyCancellable returned by sink()
// keeps the subscription alive and cancels it when dropped.

#include "Cancellable.h"
#include "MainThread.h"
#include "Subscriber.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace rx {

template <typename T> class Publisher;

namespace detail {

template <typename P> struct PublisherOutput;
template <typename U> struct PublisherOutput<Publisher<U>> { using type = U; };

// Turns what an error-mapping function returns (an exception_ptr or an exception object) into an Error.
template <typename E> Error toError(E&& error) {
    if constexpr (std::is_same_v<std::decay_t<E>, Error>)
        return std::forward<E>(error);
    else
        return std::make_exception_ptr(std::forward<E>(error));
}

// Runs `work`: its result, or nothing with `failure` set to what it threw.
template <typename F>
auto attempt(F&& work, Error& failure) -> std::optional<std::decay_t<std::invoke_result_t<F&>>> {
    try {
        return work();
    } catch (...) {
        failure = std::current_exception();
        return std::nullopt;
    }
}

} // namespace detail

template <typename T> class Publisher {
public:
    using Output = T;
    using SubscribeFunction = std::function<void(const SubscriberPtr<T>&)>;

    // `subscribe` starts the work for one subscriber. It must hand the subscriber its upstream (what
    // cancels the work) with setUpstream() before or while it delivers.
    explicit Publisher(SubscribeFunction subscribe)
        : m_subscribe(std::make_shared<const SubscribeFunction>(std::move(subscribe))) {}

    void subscribe(const SubscriberPtr<T>& subscriber) const { (*m_subscribe)(subscriber); }

    [[nodiscard]] AnyCancellable sink(typename Subscriber<T>::ValueHandler onValue,
                                      typename Subscriber<T>::CompletionHandler onCompletion = {}) const {
        auto subscriber = Subscriber<T>::create(std::move(onValue), std::move(onCompletion));
        subscribe(subscriber);
        return AnyCancellable(subscriber);
    }

    Publisher eraseToAnyPublisher() const { return *this; }

    // Each value through `transform`. An exception thrown by `transform` fails the stream and cancels
    // the upstream, so map and tryMap differ only in what the reader is told to expect.
    template <typename F> auto tryMap(F transform) const {
        using U = std::decay_t<std::invoke_result_t<F&, const T&>>;
        return lift<U>(
            [transform](const T& value, Subscriber<U>& down) mutable {
                Error failure;
                if (auto result = detail::attempt([&] { return transform(value); }, failure))
                    down.receive(*result);
                else
                    down.complete(failure);
            },
            [](Error error, Subscriber<U>& down) { down.complete(std::move(error)); });
    }

    template <typename F> auto map(F transform) const { return tryMap(std::move(transform)); }

    // Each failure through `transform`, which returns the new error (an exception_ptr or an exception
    // object); what it throws becomes the failure instead.
    template <typename F> Publisher mapError(F transform) const {
        return lift<T>([](const T& value, Subscriber<T>& down) { down.receive(value); },
                       [transform](Error error, Subscriber<T>& down) mutable {
                           if (!error) {
                               down.complete();
                               return;
                           }
                           Error mapped;
                           try {
                               mapped = detail::toError(transform(error));
                           } catch (...) {
                               mapped = std::current_exception();
                           }
                           down.complete(std::move(mapped));
                       });
    }

    // On failure, continues with the publisher that `handler` returns for the error; what the handler
    // throws fails the stream instead (rethrowing the error passes it on unchanged).
    template <typename F> Publisher catchError(F handler) const {
        const Publisher upstream = *this;
        return Publisher([upstream, handler](const SubscriberPtr<T>& down) {
            const std::weak_ptr<Subscriber<T>> weakDown = down;
            auto relay = Subscriber<T>::create(
                [weakDown](const T& value) {
                    if (auto d = weakDown.lock())
                        d->receive(value);
                },
                [weakDown, handler](Error error) mutable {
                    auto d = weakDown.lock();
                    if (!d)
                        return;
                    if (!error) {
                        d->complete();
                        return;
                    }
                    Error failure;
                    if (auto replacement = detail::attempt([&] { return handler(error); }, failure))
                        replacement->subscribe(d);
                    else
                        d->complete(failure);
                });
            down->setUpstream(relay);
            upstream.subscribe(relay);
        });
    }

    // Each value starts the publisher that `transform` returns for it; all of them run at the same time
    // and their values are passed on as they come. Finishes when the upstream and every inner publisher
    // have finished; the first failure anywhere fails the stream and cancels the rest.
    template <typename F> auto flatMap(F transform) const;

    // Delivers values and the completion on the main thread, always through its event loop. A
    // subscription cancelled before a delivery runs gets nothing more.
    Publisher receiveOnMainThread() const {
        return lift<T>(
            [](const T& value, Subscriber<T>& down) {
                postToMainThread([weakDown = down.weak_from_this(), value] {
                    if (auto d = weakDown.lock())
                        d->receive(value);
                });
            },
            [](Error error, Subscriber<T>& down) {
                postToMainThread([weakDown = down.weak_from_this(), error] {
                    if (auto d = weakDown.lock())
                        d->complete(error);
                });
            });
    }

private:
    // An operator that answers each event of this publisher with a call on the downstream subscriber.
    template <typename U, typename OnValue, typename OnCompletion>
    Publisher<U> lift(OnValue onValue, OnCompletion onCompletion) const {
        const Publisher upstream = *this;
        return Publisher<U>([upstream, onValue, onCompletion](const SubscriberPtr<U>& down) {
            const std::weak_ptr<Subscriber<U>> weakDown = down;
            auto relay = Subscriber<T>::create(
                [weakDown, onValue](const T& value) mutable {
                    if (auto d = weakDown.lock())
                        onValue(value, *d);
                },
                [weakDown, onCompletion](Error error) mutable {
                    if (auto d = weakDown.lock())
                        onCompletion(std::move(error), *d);
                });
            down->setUpstream(relay);
            upstream.subscribe(relay);
        });
    }

    std::shared_ptr<const SubscribeFunction> m_subscribe;
};

namespace detail {

// Shared by operators that feed one downstream from several upstreams (flatMap, merge). It is the
// downstream's upstream and owns every inner subscription; they point back to it weakly.
template <typename U> class FanIn final : public Cancellable, public std::enable_shared_from_this<FanIn<U>> {
public:
    explicit FanIn(const SubscriberPtr<U>& down)
        : m_down(down) {}

    // A subscriber whose values go downstream; it counts as running until it finishes.
    SubscriberPtr<U> addInner() {
        const std::uint64_t id = m_nextId++;
        auto inner = Subscriber<U>::create(
            [weak = this->weak_from_this()](const U& value) {
                if (auto self = weak.lock())
                    self->forward(value);
            },
            [weak = this->weak_from_this(), id](Error error) {
                if (auto self = weak.lock())
                    self->innerEnded(id, std::move(error));
            });
        m_inners.emplace(id, inner);
        return inner;
    }

    // The source of the inner publishers (flatMap's upstream) has ended.
    void sourceEnded(Error error) {
        m_source.reset();
        m_sourceRunning = false;
        if (error)
            fail(std::move(error));
        else
            finishIfDone();
    }

    void setSource(std::shared_ptr<Cancellable> source) {
        m_source = std::move(source);
        m_sourceRunning = true;
    }

    void fail(Error error) {
        if (auto down = m_down.lock())
            down->complete(std::move(error));
        cancel();
    }

    void cancel() override {
        m_ended = true;
        auto source = std::exchange(m_source, nullptr);
        auto inners = std::exchange(m_inners, {});
        if (source)
            source->cancel();
        for (auto& [id, inner] : inners)
            inner->cancel();
    }

    bool ended() const { return m_ended; }

private:
    void forward(const U& value) {
        if (auto down = m_down.lock())
            down->receive(value);
    }

    void innerEnded(std::uint64_t id, Error error) {
        if (m_ended)
            return;
        const auto keepAlive = this->shared_from_this();
        if (error) {
            fail(std::move(error));
            return;
        }
        m_inners.erase(id);
        finishIfDone();
    }

    void finishIfDone() {
        if (m_ended || m_sourceRunning || !m_inners.empty())
            return;
        m_ended = true;
        if (auto down = m_down.lock())
            down->complete();
    }

    std::weak_ptr<Subscriber<U>> m_down;
    std::shared_ptr<Cancellable> m_source;
    std::map<std::uint64_t, SubscriberPtr<U>> m_inners;
    std::uint64_t m_nextId = 0;
    bool m_sourceRunning = false;
    bool m_ended = false;
};

} // namespace detail

template <typename T> template <typename F> auto Publisher<T>::flatMap(F transform) const {
    using Inner = std::decay_t<std::invoke_result_t<F&, const T&>>;
    using U = typename detail::PublisherOutput<Inner>::type;
    const Publisher upstream = *this;
    return Publisher<U>([upstream, transform](const SubscriberPtr<U>& down) {
        auto fanIn = std::make_shared<detail::FanIn<U>>(down);
        down->setUpstream(fanIn);
        const std::weak_ptr<detail::FanIn<U>> weakFanIn = fanIn;
        auto source = Subscriber<T>::create(
            [weakFanIn, transform](const T& value) mutable {
                auto state = weakFanIn.lock();
                if (!state || state->ended())
                    return;
                Error failure;
                if (auto inner = detail::attempt([&] { return transform(value); }, failure))
                    inner->subscribe(state->addInner());
                else
                    state->fail(failure);
            },
            [weakFanIn](Error error) {
                if (auto state = weakFanIn.lock())
                    state->sourceEnded(std::move(error));
            });
        fanIn->setSource(source);
        upstream.subscribe(source);
    });
}

template <typename T> Publisher<T> just(T value) {
    return Publisher<T>([value](const SubscriberPtr<T>& down) {
        down->receive(value);
        down->complete();
    });
}

template <typename T> Publisher<T> fail(Error error) {
    return Publisher<T>([error](const SubscriberPtr<T>& down) { down->complete(error); });
}

template <typename T, typename E> Publisher<T> fail(E error) {
    return fail<T>(std::make_exception_ptr(std::move(error)));
}

// Finishes at once without a value.
template <typename T> Publisher<T> empty() {
    return Publisher<T>([](const SubscriberPtr<T>& down) { down->complete(); });
}

// The values of both as they come; finishes when both have finished, fails with the first failure.
template <typename T> Publisher<T> merge(const Publisher<T>& first, const Publisher<T>& second) {
    return Publisher<T>([first, second](const SubscriberPtr<T>& down) {
        auto fanIn = std::make_shared<detail::FanIn<T>>(down);
        down->setUpstream(fanIn);
        auto a = fanIn->addInner();
        auto b = fanIn->addInner();
        first.subscribe(a);
        if (!fanIn->ended())
            second.subscribe(b);
    });
}

} // namespace rx
