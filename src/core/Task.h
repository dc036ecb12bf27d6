#pragma once

// moc cannot read the standard library's concepts, and needs none of this.
#ifndef Q_MOC_RUN
#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

// An operation of the windows written as one sequence (ask, copy, show, read the
// folder again) that waits without holding the interface thread: where it waits
// for a job, the coroutine is suspended and the application's own loop goes on;
// the job's end resumes it there. A task starts when it is awaited or spawned.
namespace core {

template <typename T>
class Task;

namespace detail {

struct PromiseBase {
    std::coroutine_handle<> continuation;
    std::exception_ptr error;
    // Set on a spawned task: nobody awaits it, so it frees itself at its end
    // and hands what became of it to this.
    std::function<void(std::exception_ptr)> onEnd;
    bool spawned = false;

    struct Final {
        bool await_ready() const noexcept { return false; }
        template <typename Promise>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> self) noexcept {
            PromiseBase& promise = self.promise();
            if (promise.continuation)
                return promise.continuation;
            if (promise.spawned) {
                auto onEnd = std::move(promise.onEnd);
                std::exception_ptr error = promise.error;
                self.destroy();
                if (onEnd)
                    onEnd(error);
            }
            return std::noop_coroutine();
        }
        void await_resume() const noexcept {}
    };

    std::suspend_always initial_suspend() const noexcept { return {}; }
    Final final_suspend() const noexcept { return {}; }
    void unhandled_exception() { error = std::current_exception(); }
};

template <typename T>
struct Promise : PromiseBase {
    std::optional<T> value;
    Task<T> get_return_object();
    template <typename U>
    void return_value(U&& v) {
        value.emplace(std::forward<U>(v));
    }
    T Take() {
        if (error)
            std::rethrow_exception(error);
        return std::move(*value);
    }
};

template <>
struct Promise<void> : PromiseBase {
    Task<void> get_return_object();
    void return_void() const noexcept {}
    void Take() const {
        if (error)
            std::rethrow_exception(error);
    }
};

} // namespace detail

// Spawned tasks that have not ended yet (interface thread only).
inline int g_spawnedTasks = 0;
// Told when a spawned task has ended: the window stays locked until the whole
// operation has, not only its jobs.
void SpawnedTaskEnded();

template <typename T = void>
class [[nodiscard]] Task {
public:
    using promise_type = detail::Promise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    Task() = default;
    explicit Task(Handle handle) : m_handle(handle) {}
    Task(Task&& other) noexcept : m_handle(std::exchange(other.m_handle, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            Reset();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { Reset(); }

    bool Valid() const { return static_cast<bool>(m_handle); }
    bool Done() const { return m_handle && m_handle.done(); }

    auto operator co_await() && noexcept {
        struct Awaiter {
            Handle handle;
            bool await_ready() const noexcept { return !handle || handle.done(); }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<> waiting) noexcept {
                handle.promise().continuation = waiting;
                return handle;
            }
            T await_resume() { return handle.promise().Take(); }
        };
        return Awaiter{m_handle};
    }

    // Starts the task without anyone to await it: it runs until its first wait,
    // goes on from the application's loop, and frees itself at its end; onEnd
    // (may be empty) is told how it ended.
    void Spawn(std::function<void(std::exception_ptr)> onEnd = {}) && {
        Handle handle = std::exchange(m_handle, {});
        if (!handle)
            return;
        handle.promise().spawned = true;
        ++g_spawnedTasks;
        handle.promise().onEnd = [onEnd = std::move(onEnd)](std::exception_ptr error) {
            --g_spawnedTasks;
            SpawnedTaskEnded();
            if (onEnd)
                onEnd(error);
        };
        handle.resume();
    }

    // What the task came to, once Done(): its value, or what it threw.
    T Result() { return m_handle.promise().Take(); }
    // Starts an unstarted task in place, for those who wait for it themselves.
    void Start() {
        if (m_handle && !m_handle.done())
            m_handle.resume();
    }

private:
    void Reset() {
        if (m_handle)
            m_handle.destroy();
        m_handle = {};
    }
    Handle m_handle;
};

namespace detail {
template <typename T>
Task<T> Promise<T>::get_return_object() {
    return Task<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}
inline Task<void> Promise<void>::get_return_object() {
    return Task<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}
} // namespace detail

// A task already ended with value: for the paths of a coroutine-shaped function
// that have nothing to wait for.
template <typename T>
Task<T> Ready(T value) {
    co_return value;
}

} // namespace core
#endif // Q_MOC_RUN
