#pragma once

#include <QtGlobal>
#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

namespace morven {

// A step of a write that can wait without blocking the thread: a coroutine that starts when it
// is awaited (or started) and hands its result to whoever awaited it. Several writes on one
// event loop each suspend at their waits and go on when their own link has something new.
//
// The rules the writes keep:
// - Only a link's wait suspends (SerialLink::NextPass): after each look at its port and flags
//   it suspends until the event loop's next pass, and DriveLinks resumes it. Everything else in
//   a task runs straight through, and a task awaited by another runs inside it (nothing is
//   queued).
// - One wait per link at a time: a link holds one suspended wait. A second wait on the same link
//   while the first is suspended is a programming error, and NextPass stops the program.
// - A task is driven to its end (DriveLinks returns only when no link waits). A task that has
//   started and is suspended is never destroyed: its link would later resume freed memory. The
//   destructor stops the program if it finds one. A task never started may be dropped.
// - Mark it [[nodiscard]]: a task created and not awaited would silently do nothing.
template <typename T>
class [[nodiscard]] Task {
public:
    struct promise_type {
        std::optional<T> value;
        std::coroutine_handle<> continuation;
        bool started = false;

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
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() {
        if (!handle_) return;
        if (handle_.promise().started && !handle_.done())
            qFatal("a write step was destroyed while it waited");
        handle_.destroy();
    }

    // Awaited by another task: runs until its first wait, then goes on when resumed.
    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
        handle_.promise().continuation = awaiting;
        handle_.promise().started = true;
        return handle_;
    }
    T await_resume() { return std::move(*handle_.promise().value); }

    // At the top: runs until its first wait.
    void Start() {
        handle_.promise().started = true;
        handle_.resume();
    }
    bool Done() const { return handle_.done(); }
    T Result() { return std::move(*handle_.promise().value); }

private:
    explicit Task(Handle handle) : handle_(handle) {}
    Handle handle_;
};

}  // namespace morven
