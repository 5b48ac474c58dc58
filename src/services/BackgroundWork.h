#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Work off the main thread for an owner on it: jobs run on worker threads of
// this object's own, and what they hand back runs on the thread that created
// the object, in the order handed. The owner numbers its runs: raising the
// generation makes what an older run still hands back through
// `deliverIfCurrent` drop unseen.
//
// Jobs are posted to lanes: lane i runs up to `laneWidths[i]` jobs at once in
// the order posted (width 1: one after the other); its threads start as jobs
// arrive and live until the object ends. Jobs to the workers and results back
// pass through standard locks, so a race checker sees every hand-over; the
// event posted to the owner's thread carries nothing and only says that there
// is something to take. `post` and the delivery calls may be made from any
// thread, the rest on the owner's thread.
class BackgroundWork {
public:
    explicit BackgroundWork(const std::vector<int>& laneWidths = {1});
    // Waits for every posted job; what is left to deliver is dropped.
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    void post(std::size_t lane, std::function<void()> job);
    void post(std::function<void()> job) { post(0, std::move(job)); }
    // Runs `apply` on the owner's thread, after everything handed before it.
    void deliver(std::function<void()> apply);
    // The same, but dropped when the owner has raised the generation since.
    void deliverIfCurrent(quint64 generation, std::function<void()> apply);

    quint64 generation() const { return m_generation; }
    // Starts a new run; what older runs deliver if current is dropped from now on.
    quint64 nextGeneration() { return ++m_generation; }
    bool isCurrent(quint64 generation) const { return generation == m_generation; }

    // Blocks until no job is queued or running on any lane.
    void waitForDone();

private:
    class Lane;
    void drain();
    void wake();

    // Receives the wake-up events; with it go those still pending. The event
    // is made on the thread that hands a result over, through locks Qt does
    // not show a race checker, so nothing here reads it.
    class Waker : public QObject {
    public:
        explicit Waker(BackgroundWork& owner) : m_owner(owner) {}

    protected:
        void customEvent(QEvent*) override { m_owner.drain(); }

    private:
        BackgroundWork& m_owner;
    };
    Waker m_waker{*this};
    std::mutex m_mailboxMutex;
    std::deque<std::function<void()>> m_mailbox;
    quint64 m_generation = 0;
    // Declared last, so their threads end first.
    std::vector<std::unique_ptr<Lane>> m_lanes;
};
