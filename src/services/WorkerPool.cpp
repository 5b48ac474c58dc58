#include "services/WorkerPool.h"

WorkerPool::WorkerPool(int maxThreads) : m_maxThreads(maxThreads < 1 ? 1 : maxThreads) {}

WorkerPool::~WorkerPool() {
    waitForDone();
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

void WorkerPool::post(std::function<void()> job) {
    std::lock_guard lock(m_mutex);
    m_jobs.push_back(std::move(job));
    if (m_waiting == 0 && int(m_threads.size()) < m_maxThreads) {
        m_threads.emplace_back([this] { loop(); });
    } else {
        m_wake.notify_one();
    }
}

void WorkerPool::waitForDone() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_jobs.empty() && m_busy == 0; });
}

void WorkerPool::loop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_waiting;
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        --m_waiting;
        if (m_jobs.empty()) {
            return; // stopping
        }
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        ++m_busy;
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
        --m_busy;
        if (m_jobs.empty() && m_busy == 0) {
            m_idle.notify_all();
        }
    }
}
