#pragma once

#include "services/CancelToken.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

// Spaces the starts of MusicBrainz requests across the whole process.
// MusicBrainz allows about one request per second per client and answers 503
// beyond that; with several files in lookup (and both modes at once) the
// per-lookup waits alone would exceed it.
//
// acquire() blocks until at least `interval` has passed since the previous
// start, first come first served, and then counts the caller's request as
// started. A cancelled token wakes its waiter at once and gives up its place.
// Safe to call from any thread.
class MusicBrainzPacer {
public:
    explicit MusicBrainzPacer(std::chrono::steady_clock::duration interval);

    // The process-wide pacer with 1.1 s between starts.
    static MusicBrainzPacer& shared();

    // True: the caller may send now. False: the token was cancelled first.
    bool acquire(const CancelToken& cancel);

    std::chrono::steady_clock::duration interval() const { return m_interval; }
    // How many callers stand in line in acquire() now.
    std::size_t waiting() const;

private:
    const std::chrono::steady_clock::duration m_interval;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::uint64_t> m_queue;
    std::uint64_t m_nextTicket = 0;
    std::optional<std::chrono::steady_clock::time_point> m_lastStart;
};
