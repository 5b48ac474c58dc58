#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// A shared cancellation flag. Copies of a token share one state: cancelling
// any copy cancels them all, once and for good.
//
// cancel() wakes every thread that waits on the token (sleepFor/sleepUntil)
// and runs every registered callback at once, so an HTTP request in flight
// or a queued waiter elsewhere (the MusicBrainz pacer) can stop without
// polling. All members are safe to call from any thread.
//
//     CancelToken token;                       // fresh, not cancelled
//     worker(token);                           // copies share the state
//     token.cancel();                          // from any thread
//
//     if (!token.sleepFor(1100ms)) { ... }     // false: cancelled early
//
//     auto reg = token.onCancel([&] { wakeMyLoop(); });
//     // reg unregisters on destruction and waits for a running callback.
class CancelToken {
public:
    CancelToken();

    void cancel() const;
    bool isCancelled() const;

    // Sleeps for the duration or until the token is cancelled, whichever
    // comes first. Returns true when the whole time passed, false when
    // cancelled (also when it was cancelled before the call).
    bool sleepFor(std::chrono::steady_clock::duration duration) const;
    bool sleepUntil(std::chrono::steady_clock::time_point deadline) const;

    // Keeps a callback registered while it lives. Destroying it removes the
    // callback; if cancel() is running the callback on another thread at that
    // moment, the destructor waits for it to return.
    class Registration {
    public:
        Registration() = default;
        Registration(Registration&& other) noexcept;
        Registration& operator=(Registration&& other) noexcept;
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;
        ~Registration();

    private:
        friend class CancelToken;
        struct State;
        Registration(std::shared_ptr<State> state, std::uint64_t id) : m_state(std::move(state)), m_id(id) {}
        void reset();

        std::shared_ptr<State> m_state;
        std::uint64_t m_id = 0;
    };

    // Runs `callback` once when the token is cancelled; at once, on this
    // thread, when it already is. The callback must be short and must not
    // call back into this token (it runs under the token's lock); waking a
    // condition variable or a poll loop is the intended use.
    [[nodiscard]] Registration onCancel(std::function<void()> callback) const;

private:
    std::shared_ptr<Registration::State> m_state;
};
