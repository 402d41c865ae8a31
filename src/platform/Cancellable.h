#pragma once

#include <memory>
#include <utility>
#include <vector>

namespace rx {

// Something that can be told to stop. Cancelling twice, or after the work ended, does nothing.
class Cancellable {
public:
    virtual ~Cancellable() = default;
    virtual void cancel() = 0;
};

// Owns a subscription and cancels it when it goes away, so a subscription lives exactly as long as
// whoever stores the token. A subscription whose token is dropped at once is cancelled at once.
class AnyCancellable {
public:
    AnyCancellable() = default;
    explicit AnyCancellable(std::shared_ptr<Cancellable> cancellable)
        : m_cancellable(std::move(cancellable)) {}
    ~AnyCancellable() { cancel(); }

    AnyCancellable(const AnyCancellable&) = delete;
    AnyCancellable& operator=(const AnyCancellable&) = delete;
    AnyCancellable(AnyCancellable&& other) noexcept
        : m_cancellable(std::exchange(other.m_cancellable, nullptr)) {}
    AnyCancellable& operator=(AnyCancellable&& other) noexcept {
        if (this != &other) {
            cancel();
            m_cancellable = std::exchange(other.m_cancellable, nullptr);
        }
        return *this;
    }

    void cancel() {
        if (auto cancellable = std::exchange(m_cancellable, nullptr))
            cancellable->cancel();
    }

    explicit operator bool() const { return m_cancellable != nullptr; }

    void store(std::vector<AnyCancellable>& set) && { set.push_back(std::move(*this)); }

private:
    std::shared_ptr<Cancellable> m_cancellable;
};

using CancellableSet = std::vector<AnyCancellable>;

} // namespace rx
