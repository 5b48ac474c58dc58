#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A small pool of worker threads of its own, started as jobs arrive, up to
// `maxThreads`. Jobs run in the order posted; with one thread, one after the
// other. All hand-over goes through standard locks, so race checkers see it.
class WorkerPool {
public:
    explicit WorkerPool(int maxThreads);
    // Waits for every posted job, then ends the threads.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void post(std::function<void()> job);
    // Blocks until no job is queued or running.
    void waitForDone();

private:
    void loop();

    const int m_maxThreads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    int m_busy = 0;
    int m_waiting = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
