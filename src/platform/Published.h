#pragma once

#include "Subject.h"

#include <utility>

namespace rx {

// What an object with published properties offers its observers: one notice before any of its
// published values changes.
class ObservableObject {
public:
    const PassthroughSubject<Void>& objectWillChange() const { return m_objectWillChange; }

private:
    PassthroughSubject<Void> m_objectWillChange;
};

// A property whose changes can be watched. A write runs in this order: the owner's change notice, then
// delivery of the new value to the subscribers, then the store. So a subscriber that reads the
// property while it is being told of a change still sees the old value. Subscribing delivers the
// current value at once. Used on the main thread only.
template <typename T> class Published {
public:
    explicit Published(T initial = T{})
        : m_subject(std::move(initial)) {}

    // `owner` is the object whose change notice fires before each write.
    explicit Published(const ObservableObject& owner, T initial = T{})
        : m_subject(std::move(initial))
        , m_changeNotice(owner.objectWillChange()) {}

    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return m_subject.current(); }
    operator const T&() const { return get(); }
    const T* operator->() const { return &get(); }

    void set(T value) {
        if (m_changeNotice)
            m_changeNotice->send(Void{});
        m_subject.deliver(value);
        m_subject.store(std::move(value));
    }

    Published& operator=(T value) {
        set(std::move(value));
        return *this;
    }

    // Changes the value in place; observers see it as one write of the changed whole.
    template <typename F> void modify(F change) {
        T changed = get();
        change(changed);
        set(std::move(changed));
    }

    // The current value at once, then every written value. It never completes.
    Publisher<T> publisher() const { return m_subject.eraseToAnyPublisher(); }

    template <typename V> [[nodiscard]] AnyCancellable sink(V onValue) const {
        return publisher().sink(std::move(onValue));
    }

private:
    struct Subject : detail::SubjectCore<T> {
        explicit Subject(T initial)
            : detail::SubjectCore<T>(std::move(initial)) {}
        using detail::SubjectCore<T>::current;
        using detail::SubjectCore<T>::deliver;
        using detail::SubjectCore<T>::store;
    };

    Subject m_subject;
    std::optional<PassthroughSubject<Void>> m_changeNotice;
};

} // namespace rx
