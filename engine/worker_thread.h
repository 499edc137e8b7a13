#pragma once
// The thread family every background activity runs on.
//
// cbasethread   owns a thread created suspended; the owner calls Resume once the whole object
//               (derived parts included) is built, so the thread never calls an override of a
//               half-constructed object. Thread entry: OnStart, Run, then ExitCode.
// ceventthread  runs DoWork periodically (period in ms) or when woken (Trigger).
// cnotifythread adds the ring indices and lock of a job queue; JobWorker<Job> completes it, so a
//               concrete worker supplies only its job type and CarryOut.
//
// Lifetime: Stop, then WaitStop, then destroy. A thread that does not end within 3000 ms cannot
// be killed safely, so WaitStop detaches and abandons it; the abandoned thread may still use its
// object, which must then never be destroyed (the process is ending). StopAndDestroy and
// ThreadPtr do all of this, leaking the object only when it was abandoned. Destroying an object
// whose thread still runs is a programming error and aborts the process.
//
// Stop, Trigger and SetPaused may be called from any thread; Resume, SetPeriod and WaitStop
// belong to the owner.

#include <atomic>
#include <concepts>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/messages.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "platform/tick.h"

namespace quorvane {

inline constexpr uint32_t kWaitStopMs = 3000;

class cbasethread {
public:
    cbasethread();
    virtual ~cbasethread();
    cbasethread(const cbasethread&) = delete;
    cbasethread& operator=(const cbasethread&) = delete;

    // The thread's body; the base returns at once.
    virtual int Run() { return 0; }
    // The thread's exit code, asked for after Run.
    virtual int ExitCode() { return 0; }
    // Runs on the thread before Run; a non-zero result does not stop the thread.
    virtual int OnStart() { return 0; }
    virtual int DoWork() { return 0; }
    virtual void Trigger() {}
    virtual void Stop() { stop_.store(1); }
    virtual void SetPaused(uint8_t paused) { paused_.store(paused ? 1 : 0); }

    void Resume();
    // Takes effect when the loop next works out a wait.
    void SetPeriod(uint32_t ms) { period_.store(ms); }
    // Callers Stop first. 0: no thread (never created, or already waited for); 1: the thread has
    // ended; 2: it did not end within timeoutMs and was abandoned (see abandoned()).
    int WaitStop(uint32_t timeoutMs = kWaitStopMs);

    bool stopRequested() const { return stop_.load() != 0; }
    bool paused() const { return paused_.load() != 0; }
    uint32_t period() const { return period_.load(); }
    // True once WaitStop gave the thread up: the object must then be leaked, never destroyed.
    bool abandoned() const { return abandoned_.load(); }
    // True once the body has returned (also after an abandoned thread ended late).
    bool finished() const;
    // The exit code the body returned (ExitCode); 0 until then.
    int threadExitCode() const;
    std::thread::id threadId() const;

protected:
    std::atomic<uint8_t> stop_{0};
    std::atomic<uint8_t> paused_{0};
    std::atomic<uint32_t> period_{0};

private:
    int Entry();

    std::unique_ptr<Thread> thread_;  // null when the thread could not be created
    std::atomic<bool> resumed_{false};
    std::atomic<bool> abandoned_{false};
};

// Stops the thread, waits for it (WaitStop) and deletes the object, unless its thread was
// abandoned (now or by an earlier WaitStop): that object is deliberately leaked, because the
// thread may still use it. Returns the WaitStop result. Null is allowed (returns 0).
int StopAndDestroy(cbasethread* thread);

struct ThreadDeleter {
    void operator()(cbasethread* thread) const { StopAndDestroy(thread); }
};
template <class T>
using ThreadPtr = std::unique_ptr<T, ThreadDeleter>;

template <class T, class... Args>
ThreadPtr<T> MakeThread(Args&&... args) {
    return ThreadPtr<T>(new T(std::forward<Args>(args)...));
}

class ceventthread : public cbasethread {
public:
    // ticks: the clock of the loop's timing (nullptr: the system tick count).
    explicit ceventthread(TickSource* ticks = nullptr);

    int Run() override;
    void Trigger() override;
    void Stop() override;
    void SetPaused(uint8_t paused) override;

    // Tick when DoWork last returned; 0: never, or a Trigger since.
    uint32_t lastRunTick() const { return lastRunTick_.load(); }

protected:
    // The loop's wait on the wake event, at most timeoutMs (kInfinite: no limit); true when woken.
    // Tests override it to move a fake clock instead of sleeping.
    virtual bool WaitWake(uint32_t timeoutMs) { return wake_.Wait(timeoutMs); }
    Event& wakeEvent() { return wake_; }
    TickSource& ticks() { return ticks_; }

private:
    TickSource& ticks_;
    // Created signalled, so the first wait after the first run returns at once.
    Event wake_{Event::Reset::Auto, true};
    std::atomic<uint32_t> lastRunTick_{0};
    // Set by Trigger; lets the loop see a Trigger that came while DoWork ran, whose clearing of
    // lastRunTick the end of that run overwrites.
    std::atomic<bool> triggered_{false};
};

inline constexpr uint32_t kJobRingSize = 2048;  // entries; at most kJobRingSize - 1 jobs queued
inline constexpr uint32_t kJobRingMask = kJobRingSize - 1;

// The lock and indices of a single-consumer job ring. Producers hold the lock only while they
// copy one job in and move writeIndex; only the worker's thread handles entries and moves
// readIndex, without the lock. An index moves only after its entry is complete (writeIndex) or
// handled (readIndex), so neither side ever sees an entry the other is working on.
class cnotifythread : public ceventthread {
public:
    explicit cnotifythread(TickSource* ticks = nullptr) : ceventthread(ticks) {}

    uint32_t writeIndex() const { return writeIndex_.load(std::memory_order_acquire); }
    uint32_t readIndex() const { return readIndex_.load(std::memory_order_acquire); }
    uint32_t queued() const { return (writeIndex() - readIndex()) & kJobRingMask; }

protected:
    std::mutex ringLock_;                  // serialises producers
    std::atomic<uint32_t> writeIndex_{0};  // next entry to fill; written under ringLock_
    std::atomic<uint32_t> readIndex_{0};   // next entry to handle; written by the worker only
};

// The entries of a worker's ring, built and released with the worker.
template <class Job>
class JobRing {
public:
    JobRing() : entries_(std::make_unique<Job[]>(kJobRingSize)) {}
    Job& operator[](uint32_t index) { return entries_[index & kJobRingMask]; }

private:
    std::unique_ptr<Job[]> entries_;
};

// A job that names the window to tell when it is done: a member `MessageTarget* window`
// (nullptr: tell nobody). Jobs without that member post nothing.
template <class Job>
concept NamesWindow = requires(const Job& job) {
    { job.window } -> std::convertible_to<MessageTarget*>;
};

// A notification worker: Enqueue from any thread, CarryOut on the worker's thread in order.
// Job must be default-constructible and movable; resetting an entry to Job{} releases its data.
template <class Job>
class JobWorker : public cnotifythread {
public:
    explicit JobWorker(TickSource* ticks = nullptr) : cnotifythread(ticks) {}

    // 0: queued and the worker woken; -1: the ring is full and the job is dropped.
    int Enqueue(Job job) {
        std::lock_guard lock(ringLock_);
        const uint32_t w = writeIndex_.load(std::memory_order_relaxed);
        if (((w + 1) & kJobRingMask) == readIndex_.load(std::memory_order_acquire)) return -1;
        ring_[w] = std::move(job);
        writeIndex_.store((w + 1) & kJobRingMask, std::memory_order_release);
        Trigger();
        return 0;
    }

    // Handles the queued jobs in order until the ring is empty or Stop is asked for.
    int DoWork() override {
        for (;;) {
            if (stopRequested()) break;
            const uint32_t r = readIndex_.load(std::memory_order_relaxed);
            if (r == writeIndex_.load(std::memory_order_acquire)) break;
            Job& job = ring_[r];
            const int64_t result = CarryOut(job);
            const uint32_t next = (r + 1) & kJobRingMask;
            MessageTarget* window = nullptr;
            EngineMessage done;
            if constexpr (NamesWindow<Job>) {
                window = job.window;
                if (window) done = DoneMessage(job, next, result);
            }
            job = Job{};
            // From here on the entry belongs to the producers again.
            readIndex_.store(next, std::memory_order_release);
            if (window) window->Post(std::move(done));
        }
        return 0;
    }

protected:
    // Carries out one job on the worker's thread. The result becomes the completion's lParam.
    virtual int64_t CarryOut(Job& job) = 0;
    // The completion posted to the job's window: by default WM_JOBDONE with wParam the new
    // readIndex and lParam the result of CarryOut.
    virtual EngineMessage DoneMessage(const Job& /*job*/, uint32_t newReadIndex, int64_t result) {
        EngineMessage m;
        m.message = WM_JOBDONE;
        m.wParam = newReadIndex;
        m.lParam = result;
        return m;
    }

private:
    JobRing<Job> ring_;
};

}  // namespace quorvane
