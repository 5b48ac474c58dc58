#pragma once

#include "LoopbackServer.h"
#include "TestHelpers.h"

#include "services/CancelToken.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

// Pieces of the threaded tests: work on several threads at once, a cancel from another thread,
// and when requests reached the loopback server.
namespace Threads {

using Clock = std::chrono::steady_clock;

// The threads a test starts itself. On every way out of the test, also a failed ASSERT while
// they run, `wake` runs first (it cancels what they may wait on) and then each is joined: a
// thread left joinable ends the whole binary.
class JoinedThreads {
public:
    explicit JoinedThreads(std::function<void()> wake = {}) : m_wake(std::move(wake)) {}
    ~JoinedThreads() {
        if (m_wake) {
            m_wake();
        }
        joinAll();
    }
    JoinedThreads(const JoinedThreads&) = delete;
    JoinedThreads& operator=(const JoinedThreads&) = delete;

    template <typename Work> void start(Work&& work) { m_threads.emplace_back(std::forward<Work>(work)); }
    std::size_t size() const { return m_threads.size(); }
    void join(std::size_t i) { m_threads.at(i).join(); }
    void joinAll() {
        for (std::thread& thread : m_threads) {
            if (thread.joinable()) {
                thread.join();
            }
        }
    }

private:
    std::function<void()> m_wake;
    std::vector<std::thread> m_threads;
};

// Runs `work(i)` for i in [0, count) on `threads` threads at once.
inline void runConcurrently(int count, int threads, const std::function<void(int)>& work) {
    std::atomic<int> next{0};
    JoinedThreads pool;
    for (int t = 0; t < threads; ++t) {
        pool.start([&] {
            for (int i = next++; i < count; i = next++) {
                work(i);
            }
        });
    }
}

// Only a hang waits this long (hangMs).
constexpr std::chrono::milliseconds hang{hangMs};

// Polls `condition` until it holds (true) or a hang's time has passed (false).
inline bool eventually(const std::function<bool()>& condition) {
    const Clock::time_point end = Clock::now() + hang;
    while (!condition()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs `call` while another thread cancels `token` once `ready()` holds (at the
// latest after a hang's time); returns the time from the cancel to the end of the call.
inline Clock::duration cancelWhen(CancelToken token, const std::function<bool()>& ready,
                                  const std::function<void()>& call) {
    std::atomic<Clock::rep> cancelledAt{0};
    std::atomic<bool> thrown{false}; // `call` threw: the canceller waits no more
    JoinedThreads canceller([&] { thrown = true; });
    canceller.start([&] {
        eventually([&] { return thrown || ready(); });
        cancelledAt = Clock::now().time_since_epoch().count();
        token.cancel();
    });
    call();
    const Clock::time_point end = Clock::now();
    canceller.joinAll();
    return end - Clock::time_point(Clock::duration(cancelledAt.load()));
}

// The same, with the cancel `after` the start: a head start for `call`, which
// a busy machine may shorten or stretch.
inline Clock::duration cancelDuring(CancelToken token, std::chrono::milliseconds after,
                                    const std::function<void()>& call) {
    const Clock::time_point start = Clock::now();
    return cancelWhen(token, [&] { return Clock::now() - start >= after; }, call);
}

inline std::vector<Clock::time_point> sortedArrivals(const std::vector<LoopbackServer::Request>& requests) {
    std::vector<Clock::time_point> out;
    for (const auto& r : requests) {
        out.push_back(r.arrived);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace Threads
