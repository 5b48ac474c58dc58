#include "services/BackgroundWork.h"

#include <QCoreApplication>
#include <QEvent>

#include <condition_variable>
#include <thread>

// One lane: up to `width` threads taking jobs from one queue in order.
class BackgroundWork::Lane {
public:
    explicit Lane(int width) : m_width(width < 1 ? 1 : width) {}
    ~Lane() {
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

    void post(std::function<void()> job) {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
        // Idle threads take one queued job each; a job beyond them gets a new thread.
        if (int(m_jobs.size()) > m_waiting && int(m_threads.size()) < m_width) {
            m_threads.emplace_back([this] { loop(); });
        } else {
            m_wake.notify_one();
        }
    }

    void waitForDone() {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_jobs.empty() && m_busy == 0; });
    }

private:
    void loop() {
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

    const int m_width;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    int m_busy = 0;
    int m_waiting = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

BackgroundWork::BackgroundWork(const std::vector<int>& laneWidths) {
    for (const int width : laneWidths) {
        m_lanes.push_back(std::make_unique<Lane>(width));
    }
}

BackgroundWork::~BackgroundWork() {
    m_lanes.clear();
}

void BackgroundWork::post(std::size_t lane, std::function<void()> job) {
    m_lanes.at(lane)->post(std::move(job));
}

void BackgroundWork::deliver(std::function<void()> apply) {
    std::lock_guard lock(m_mailboxMutex);
    m_mailbox.push_back(std::move(apply));
    // One wake-up takes what was handed before it is taken.
    if (m_mailbox.size() == 1) {
        wake();
    }
}

void BackgroundWork::wake() {
    QCoreApplication::postEvent(&m_waker, new QEvent(QEvent::User));
}

void BackgroundWork::deliverIfCurrent(quint64 generation, std::function<void()> apply) {
    deliver([this, generation, apply = std::move(apply)] {
        if (isCurrent(generation)) {
            apply();
        }
    });
}

void BackgroundWork::waitForDone() {
    for (const std::unique_ptr<Lane>& lane : m_lanes) {
        lane->waitForDone();
    }
}

// Takes what was handed before it began: what arrives meanwhile (results of
// jobs the calls themselves posted) waits for a queued call of its own, so the
// owner's thread gets to its input and paint events between the two.
void BackgroundWork::drain() {
    std::size_t count = 0;
    {
        std::lock_guard lock(m_mailboxMutex);
        count = m_mailbox.size();
    }
    for (; count > 0; --count) {
        std::function<void()> apply;
        {
            std::lock_guard lock(m_mailboxMutex);
            if (m_mailbox.empty()) {
                return; // a nested drain took the rest
            }
            apply = std::move(m_mailbox.front());
            m_mailbox.pop_front();
        }
        apply();
    }
    std::lock_guard lock(m_mailboxMutex);
    if (!m_mailbox.empty()) {
        wake();
    }
}
