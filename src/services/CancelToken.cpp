#include "services/CancelToken.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

struct CancelToken::Registration::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> cancelled{false};
    std::uint64_t nextId = 1;
    std::vector<std::pair<std::uint64_t, std::function<void()>>> callbacks;
};

CancelToken::CancelToken() : m_state(std::make_shared<Registration::State>()) {}

void CancelToken::cancel() const {
    std::lock_guard lock(m_state->mutex);
    if (m_state->cancelled.exchange(true)) {
        return;
    }
    // Callbacks run under the lock, so a Registration being destroyed on
    // another thread waits until its callback has returned.
    for (auto& [id, callback] : m_state->callbacks) {
        callback();
    }
    m_state->callbacks.clear();
    m_state->wake.notify_all();
}

bool CancelToken::isCancelled() const {
    return m_state->cancelled.load();
}

bool CancelToken::sleepFor(std::chrono::steady_clock::duration duration) const {
    return sleepUntil(std::chrono::steady_clock::now() + duration);
}

bool CancelToken::sleepUntil(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(m_state->mutex);
    return !m_state->wake.wait_until(lock, deadline, [this] { return m_state->cancelled.load(); });
}

CancelToken::Registration CancelToken::onCancel(std::function<void()> callback) const {
    std::unique_lock lock(m_state->mutex);
    if (m_state->cancelled.load()) {
        lock.unlock();
        callback();
        return {};
    }
    const std::uint64_t id = m_state->nextId++;
    m_state->callbacks.emplace_back(id, std::move(callback));
    return Registration(m_state, id);
}

CancelToken::Registration::Registration(Registration&& other) noexcept
    : m_state(std::move(other.m_state)), m_id(std::exchange(other.m_id, 0)) {}

CancelToken::Registration& CancelToken::Registration::operator=(Registration&& other) noexcept {
    if (this != &other) {
        reset();
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

CancelToken::Registration::~Registration() {
    reset();
}

void CancelToken::Registration::reset() {
    if (!m_state) {
        return;
    }
    {
        std::lock_guard lock(m_state->mutex);
        std::erase_if(m_state->callbacks, [this](const auto& entry) { return entry.first == m_id; });
    }
    m_state.reset();
    m_id = 0;
}
