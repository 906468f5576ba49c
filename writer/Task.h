#pragma once

#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

namespace morven {

// A step of a write that can wait without blocking the thread: a coroutine that starts when it
// is awaited (or started) and hands its result to whoever awaited it. Several writes on one
// event loop each suspend at their waits and go on when their own link has something new.
template <typename T>
class Task {
public:
    struct promise_type {
        std::optional<T> value;
        std::coroutine_handle<> continuation;

        Task get_return_object() { return Task(Handle::from_promise(*this)); }
        std::suspend_always initial_suspend() noexcept { return {}; }
        auto final_suspend() noexcept {
            struct ResumeAwaiter {
                bool await_ready() noexcept { return false; }
                std::coroutine_handle<> await_suspend(Handle done) noexcept {
                    const std::coroutine_handle<> next = done.promise().continuation;
                    return next ? next : std::noop_coroutine();
                }
                void await_resume() noexcept {}
            };
            return ResumeAwaiter{};
        }
        void return_value(T result) { value = std::move(result); }
        void unhandled_exception() { std::terminate(); }
    };
    using Handle = std::coroutine_handle<promise_type>;

    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task& operator=(Task&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~Task() {
        if (handle_) handle_.destroy();
    }

    // Awaited by another task: runs until its first wait, then goes on when resumed.
    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
        handle_.promise().continuation = awaiting;
        return handle_;
    }
    T await_resume() { return std::move(*handle_.promise().value); }

    // At the top: runs until its first wait.
    void Start() { handle_.resume(); }
    bool Done() const { return handle_.done(); }
    T Result() { return std::move(*handle_.promise().value); }

private:
    explicit Task(Handle handle) : handle_(handle) {}
    Handle handle_;
};

}  // namespace morven
