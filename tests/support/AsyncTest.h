#pragma once

#include <QEventLoop>

#include <QCoroTask>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

namespace asynctest_detail {

template <typename T>
QCoro::Task<> run(QCoro::Task<T> task, std::optional<std::conditional_t<std::is_void_v<T>, bool, T>>& result,
                  std::exception_ptr& error, bool& done, QEventLoop& loop) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            result = true;
        } else {
            result = co_await std::move(task);
        }
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

} // namespace asynctest_detail

// Runs a task to its end on a nested event loop and returns its result or rethrows its error. (QCoro's own
// waitFor never returns when the task throws.)
template <typename T> T await(QCoro::Task<T>&& task) {
    QEventLoop loop;
    bool done = false;
    std::exception_ptr error;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    asynctest_detail::run<T>(std::move(task), result, error, done, loop);
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

// The error a task ended with, or nothing.
template <typename T> std::exception_ptr failureOf(QCoro::Task<T>&& task) {
    try {
        await(std::move(task));
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// The error as E, when it is one.
template <typename E> std::optional<E> errorAs(std::exception_ptr error) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const E& e) {
        return e;
    } catch (...) {
    }
    return std::nullopt;
}

// Whether a call left to run on by itself has ended, and the error it ended with.
struct CallEnd {
    bool done = false;
    std::exception_ptr error;
};

// Lets `task` run on by itself; `end` tells when and how it ended, also once the test has moved on.
template <typename T> QCoro::Task<> follow(QCoro::Task<T> task, std::shared_ptr<CallEnd> end) {
    try {
        co_await std::move(task);
    } catch (...) {
        end->error = std::current_exception();
    }
    end->done = true;
}
