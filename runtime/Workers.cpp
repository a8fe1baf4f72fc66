#include "runtime/Workers.h"

#include "runtime/BackgroundTask.h"

#include <atomic>
#include <new>
#include <system_error>

namespace {
std::atomic<void (*)()> threadStartCheck { nullptr };
}

void Workers::setThreadStartCheck(void (*check)())
{
    threadStartCheck = check;
}

Workers::Workers(std::size_t count, std::function<void()> task)
    : m_task(std::move(task))
{
    m_threads.reserve(count);
    try {
        for (std::size_t i = 0; i < count; ++i) {
            if (auto* const check = threadStartCheck.load())
                check();
            std::lock_guard const lock(m_mutex);
            m_threads.emplace_back([this] { run(); });
            ++m_running;
        }
    } catch (std::system_error const&) {
        // No more threads to be had: those that started do the work.
    } catch (std::bad_alloc const&) {
    }
}

Workers::~Workers()
{
    m_threads.clear(); // joins them
}

void Workers::run()
{
    std::exception_ptr failure;
    try {
        m_task();
    } catch (...) {
        failure = std::current_exception();
    }
    std::lock_guard const lock(m_mutex);
    if (failure && !m_failure)
        m_failure = failure;
    --m_running;
    m_ended.notify_all();
}

void Workers::wait()
{
    if (m_threads.empty()) {
        m_task();
        return;
    }
    {
        std::unique_lock lock(m_mutex);
        background_task::waitUntil(lock, m_ended, [this] { return m_running == 0; });
    }
    m_threads.clear();
    if (m_failure)
        std::rethrow_exception(std::exchange(m_failure, nullptr));
}
