#include "services/MusicBrainzPacer.h"

#include <algorithm>

MusicBrainzPacer::MusicBrainzPacer(std::chrono::steady_clock::duration interval) : m_interval(interval) {}

MusicBrainzPacer& MusicBrainzPacer::shared() {
    static MusicBrainzPacer pacer(std::chrono::milliseconds(1100));
    return pacer;
}

std::size_t MusicBrainzPacer::waiting() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

bool MusicBrainzPacer::acquire(const CancelToken& cancel) {
    // Declared before the lock so that it is released after it.
    const CancelToken::Registration wake = cancel.onCancel([this] {
        std::lock_guard lock(m_mutex);
        m_changed.notify_all();
    });

    std::unique_lock lock(m_mutex);
    const std::uint64_t ticket = m_nextTicket++;
    m_queue.push_back(ticket);
    while (true) {
        if (cancel.isCancelled()) {
            m_queue.erase(std::find(m_queue.begin(), m_queue.end(), ticket));
            m_changed.notify_all(); // the next in line may be first now
            return false;
        }
        if (m_queue.front() != ticket) {
            m_changed.wait(lock);
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!m_lastStart || now - *m_lastStart >= m_interval) {
            m_queue.pop_front();
            m_lastStart = now;
            m_changed.notify_all();
            return true;
        }
        m_changed.wait_until(lock, *m_lastStart + m_interval);
    }
}
