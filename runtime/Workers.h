#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

// Work beside the GUI thread: one task run on a few worker threads at once.
// Each run takes its shares of the work from state that the runs share, so
// that fewer runs still do all of it. The thread that waits for them is
// woken when the last one ends; on the GUI thread it keeps the window
// painted meanwhile, at the yield point. Where the system gives no thread,
// the task runs on the waiting thread instead. What a run throws, the wait
// throws again.
class Workers {
public:
    // Starts the task on up to count new threads: as many as the system
    // gives.
    Workers(std::size_t count, std::function<void()> task);
    // Waits for the runs still under way.
    ~Workers();
    Workers(Workers const&) = delete;
    Workers& operator=(Workers const&) = delete;

    std::size_t started() const { return m_threads.size(); }

    // Waits for every run to end, then throws what the first that failed
    // threw. With no thread started, runs the task here instead. Called at
    // most once.
    void wait();

    // Tests stand in for a system without threads to give: while set, it is
    // called before each thread starts, and what it throws counts as the
    // system's refusal.
    static void setThreadStartCheck(void (*check)());

private:
    void run();

    std::function<void()> m_task;
    std::mutex m_mutex;
    std::condition_variable m_ended;
    std::size_t m_running = 0;
    std::exception_ptr m_failure;
    std::vector<std::jthread> m_threads;
};

// Runs the task on a worker thread, or here when none can be had, and gives
// back its result or throws what it threw, on this thread.
template <class Task>
std::invoke_result_t<Task&> runBeside(Task task)
{
    using Result = std::invoke_result_t<Task&>;
    if constexpr (std::is_void_v<Result>) {
        Workers workers(1, task);
        workers.wait();
    } else {
        std::optional<Result> result;
        Workers workers(1, [&] { result.emplace(task()); });
        workers.wait();
        return std::move(*result);
    }
}
