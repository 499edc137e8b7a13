#include "engine/worker_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/recording_target.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;

// Polls pred until it holds or the (generous) limit passes; the limit only guards against hangs.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The clock is a base so that it exists before ceventthread takes its address.
struct FakeClock {
    explicit FakeClock(uint32_t start) : clock(start) {}
    ManualTicks clock;
};

// An event thread on a fake clock: DoWork takes the fake time given for each run; a timed wait
// that nothing ends early moves the clock by its whole length at once. Only an unlimited wait
// really blocks, and it reports itself as idle first.
class FakeTimeThread : private FakeClock, public ceventthread {
public:
    struct Config {
        uint32_t period = 0;
        uint32_t start = 1;
        std::vector<uint32_t> workMs;  // fake duration of run n (later runs take 0)
        size_t stopAfter = 0;          // the run that calls Stop (0: none)
        size_t triggerInRun = 0;       // the run that calls Trigger as another thread might (0: none)
    };
    explicit FakeTimeThread(Config config) : FakeClock(config.start), ceventthread(&clock), config_(std::move(config)) {
        SetPeriod(config_.period);
    }

    int DoWork() override {
        size_t n;
        {
            std::lock_guard lock(mutex_);
            starts_.push_back(clock.Now());
            n = starts_.size();
        }
        if (n <= config_.workMs.size()) clock.Advance(config_.workMs[n - 1]);
        if (n == config_.triggerInRun) Trigger();
        if (n == config_.stopAfter || n >= 1000) Stop();  // 1000: a runaway loop ends anyway
        return 0;
    }

    std::vector<uint32_t> starts() const {
        std::lock_guard lock(mutex_);
        return starts_;
    }
    // Waits until the loop has entered its count-th unlimited wait.
    bool WaitIdle(size_t count) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, 30s, [&] { return idle_ >= count; });
    }
    ManualTicks& fakeClock() { return clock; }

protected:
    bool WaitWake(uint32_t timeoutMs) override {
        if (wakeEvent().Wait(0)) return true;
        if (timeoutMs != kInfinite) {
            clock.Advance(timeoutMs);
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            ++idle_;
        }
        cv_.notify_all();
        return wakeEvent().Wait(kInfinite);
    }

private:
    const Config config_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<uint32_t> starts_;  // guarded by mutex_
    size_t idle_ = 0;               // guarded by mutex_
};

TEST(EventThread, PeriodZeroRunsTwiceAtStartThenOnlyWhenWoken) {
    auto t = MakeThread<FakeTimeThread>(FakeTimeThread::Config{});
    t->Resume();
    ASSERT_TRUE(t->WaitIdle(1));
    // Once at once, once more because the wake event starts signalled; then it sleeps.
    EXPECT_EQ(t->starts().size(), 2u);
    t->Trigger();
    ASSERT_TRUE(t->WaitIdle(2));
    EXPECT_EQ(t->starts().size(), 3u);
    t->Stop();
    EXPECT_TRUE(WaitFor([&] { return t->finished(); }));
    EXPECT_EQ(t->WaitStop(), 1);
    EXPECT_EQ(t->starts().size(), 3u);
}

TEST(EventThread, RunsByPeriodOnAFakeClock) {
    struct Case {
        const char* name;
        FakeTimeThread::Config config;
        std::vector<uint32_t> starts;
    };
    const Case cases[] = {
        // The period counts from the end of a run to the start of the next.
        {"short runs", {3000, 1, {0, 1000, 0}, 3}, {1, 3001, 7001}},
        {"overrun runs again at once", {3000, 1, {3500, 0, 0}, 3}, {1, 3501, 6501}},
        {"a run of exactly the period overruns", {3000, 1, {3000, 0, 0}, 3}, {1, 3001, 6001}},
        {"a trigger during a run is not lost", {3000, 1, {0, 0, 0}, 3, 2}, {1, 3001, 3001}},
        {"the tick count wraps", {3000, 0xFFFFFF00u, {0, 0, 0}, 3}, {0xFFFFFF00u, 2744, 5744}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = MakeThread<FakeTimeThread>(c.config);
        t->Resume();
        ASSERT_TRUE(WaitFor([&] { return t->finished(); }));
        EXPECT_EQ(t->WaitStop(), 1);
        EXPECT_EQ(t->starts(), c.starts);
    }
}

TEST(EventThread, PausedWaitsUntilTriggerStopOrUnpause) {
    enum class Action { Trigger, Unpause, Stop };
    struct Case {
        const char* name;
        Action action;
        std::vector<uint32_t> starts;
    };
    const Case cases[] = {
        {"trigger runs once and stays paused", Action::Trigger, {1, 10001}},
        {"unpause runs the due work and resumes the period", Action::Unpause, {1, 10001, 13001}},
        {"stop ends without running", Action::Stop, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = MakeThread<FakeTimeThread>(FakeTimeThread::Config{3000, 1, {}, 3});
        t->SetPaused(1);
        t->Resume();
        // Paused with a period: after the first run the wait has no limit.
        ASSERT_TRUE(t->WaitIdle(1));
        EXPECT_EQ(t->starts().size(), 1u);
        t->fakeClock().Advance(10000);  // well past the period: time alone must not wake it
        switch (c.action) {
            case Action::Trigger:
                t->Trigger();
                ASSERT_TRUE(t->WaitIdle(2));
                EXPECT_TRUE(t->paused());
                t->Stop();
                break;
            case Action::Unpause:
                t->SetPaused(0);
                break;
            case Action::Stop:
                t->Stop();
                break;
        }
        ASSERT_TRUE(WaitFor([&] { return t->finished(); }));
        EXPECT_EQ(t->WaitStop(), 1);
        EXPECT_EQ(t->starts(), c.starts);
    }
}

class EntryThread : public cbasethread {
public:
    explicit EntryThread(std::shared_ptr<std::string> log) : log_(std::move(log)) {}
    int OnStart() override {
        *log_ += "OnStart ";
        return 5;  // a failure to start does not stop the thread
    }
    int Run() override {
        *log_ += "Run ";
        return -1;  // Run's result is not the exit code
    }
    int ExitCode() override {
        *log_ += "ExitCode";
        return 42;
    }

private:
    std::shared_ptr<std::string> log_;
};

TEST(BaseThread, EntryRunsOnStartRunExitCodeOnlyAfterResume) {
    auto log = std::make_shared<std::string>();
    {
        EntryThread never(log);  // never resumed: released without running
    }
    EXPECT_EQ(*log, "");

    EntryThread t(log);
    t.Resume();
    ASSERT_TRUE(WaitFor([&] { return t.finished(); }));
    EXPECT_EQ(t.WaitStop(), 1);
    EXPECT_EQ(*log, "OnStart Run ExitCode");
    EXPECT_EQ(t.threadExitCode(), 42);
    EXPECT_EQ(t.WaitStop(), 0);  // the thread is gone
}

class StuckThread : public cbasethread {
public:
    StuckThread(std::shared_ptr<Event> entered, std::shared_ptr<Event> release, std::shared_ptr<bool> destroyed)
        : entered_(std::move(entered)), release_(std::move(release)), destroyed_(std::move(destroyed)) {}
    ~StuckThread() override { *destroyed_ = true; }
    int Run() override {
        entered_->Set();
        release_->Wait();  // a blocking call that the stop flag cannot end
        return 0;
    }

private:
    std::shared_ptr<Event> entered_, release_;
    std::shared_ptr<bool> destroyed_;
};

TEST(BaseThread, WaitStopAbandonsAThreadStuckInABlockingCall) {
    auto entered = std::make_shared<Event>(Event::Reset::Manual);
    auto release = std::make_shared<Event>(Event::Reset::Manual);
    auto destroyed = std::make_shared<bool>(false);
    auto* t = new StuckThread(entered, release, destroyed);
    t->Resume();
    ASSERT_TRUE(entered->Wait(30000));
    t->Stop();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(t->WaitStop(), 2);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 3000ms);
    EXPECT_TRUE(t->abandoned());
    EXPECT_EQ(t->WaitStop(), 0);  // no thread any more, but the object is still in use

    EXPECT_EQ(StopAndDestroy(t), 0);
    EXPECT_FALSE(*destroyed);  // leaked, not freed under the running thread

    // Once the abandoned thread has ended after all, its object may go.
    release->Set();
    ASSERT_TRUE(WaitFor([&] { return t->finished(); }));
    StopAndDestroy(t);
    EXPECT_TRUE(*destroyed);
}

struct TestJob {
    MessageTarget* window = nullptr;
    uint32_t id = 0;
    std::string text;
};

class TestWorker : public JobWorker<TestJob> {
public:
    // Called on the worker's thread before a job is recorded; its result is the job's result.
    std::function<int64_t(const TestJob&)> onJob;

    std::vector<uint32_t> done() const {
        std::lock_guard lock(mutex_);
        return done_;
    }

protected:
    int64_t CarryOut(TestJob& job) override {
        const int64_t result = onJob ? onJob(job) : int64_t{job.id} * 10;
        std::lock_guard lock(mutex_);
        done_.push_back(job.id);
        EXPECT_EQ(job.text, "job " + std::to_string(job.id));
        return result;
    }

private:
    mutable std::mutex mutex_;
    std::vector<uint32_t> done_;  // guarded by mutex_
};

TestJob MakeJob(uint32_t id, MessageTarget* window = nullptr) { return TestJob{window, id, "job " + std::to_string(id)}; }

TEST(JobWorker, RingHolds2047JobsAndRefusesTheNext) {
    auto w = MakeThread<TestWorker>();  // not resumed: nothing is consumed yet
    for (uint32_t i = 0; i < kJobRingSize - 1; ++i) ASSERT_EQ(w->Enqueue(MakeJob(i)), 0) << i;
    EXPECT_EQ(w->Enqueue(MakeJob(99999)), -1);
    EXPECT_EQ(w->queued(), kJobRingSize - 1);

    w->Resume();
    ASSERT_TRUE(WaitFor([&] { return w->queued() == 0; }));
    const auto done = w->done();
    ASSERT_EQ(done.size(), kJobRingSize - 1);
    for (uint32_t i = 0; i < done.size(); ++i) ASSERT_EQ(done[i], i);  // the refused job never ran
    EXPECT_EQ(w->Enqueue(MakeJob(2047)), 0);  // room again
}

TEST(JobWorker, JobsRunInOrderAndNamedWindowsGetTheNewReadIndex) {
    test::RecordingTarget window;
    auto w = MakeThread<TestWorker>();
    w->Resume();
    // Enough jobs to carry the indices round the end of the ring.
    const uint32_t total = kJobRingSize + 10;
    for (uint32_t i = 0; i < total; ++i) {
        // Every third job names no window. A full ring is retried while the worker catches up.
        MessageTarget* target = i % 3 == 0 ? nullptr : &window;
        ASSERT_TRUE(WaitFor([&] { return w->Enqueue(MakeJob(i, target)) == 0; })) << i;
    }
    ASSERT_TRUE(WaitFor([&] { return w->done().size() == total; }));
    const uint32_t withWindow = total - (total + 2) / 3;
    ASSERT_TRUE(WaitFor([&] { return window.messages().size() == withWindow; }));

    const auto done = w->done();
    for (uint32_t i = 0; i < total; ++i) ASSERT_EQ(done[i], i);
    std::vector<EngineMessage> expected;
    for (uint32_t i = 0; i < total; ++i) {
        if (i % 3 == 0) continue;
        EngineMessage m;
        m.message = WM_JOBDONE;
        m.wParam = (i + 1) & kJobRingMask;
        m.lParam = int64_t{i} * 10;
        expected.push_back(m);
    }
    const auto got = window.messages();
    for (size_t k = 0; k < expected.size(); ++k) {
        ASSERT_EQ(got[k].message, expected[k].message) << k;
        ASSERT_EQ(got[k].wParam, expected[k].wParam) << k;
        ASSERT_EQ(got[k].lParam, expected[k].lParam) << k;
    }
    EXPECT_EQ(w->readIndex(), total & kJobRingMask);
}

TEST(JobWorker, ProducersOnManyThreadsLoseNothing) {
    auto w = MakeThread<TestWorker>();
    w->Resume();
    constexpr uint32_t kProducers = 4;
    constexpr uint32_t kEach = 500;  // all fit in the ring, so none may be refused
    std::vector<std::thread> producers;
    std::atomic<int> refused{0};
    for (uint32_t p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (uint32_t i = 0; i < kEach; ++i)
                if (w->Enqueue(MakeJob(p * kEach + i)) != 0) ++refused;
        });
    }
    for (auto& t : producers) t.join();
    EXPECT_EQ(refused.load(), 0);
    ASSERT_TRUE(WaitFor([&] { return w->done().size() == kProducers * kEach; }));
    // Each producer's jobs run in the order it queued them.
    std::vector<uint32_t> lastOf(kProducers, 0);
    std::vector<bool> seen(kProducers * kEach, false);
    for (uint32_t id : w->done()) {
        ASSERT_FALSE(seen[id]) << id;
        seen[id] = true;
        const uint32_t p = id / kEach;
        ASSERT_GT(id % kEach + 1, lastOf[p]);
        lastOf[p] = id % kEach + 1;
    }
}

TEST(JobWorker, StopDuringALongQueueStopsConsuming) {
    Event entered(Event::Reset::Manual);
    Event release(Event::Reset::Manual);
    auto w = MakeThread<TestWorker>();
    w->onJob = [&](const TestJob& job) {
        if (job.id == 2) {
            entered.Set();
            release.Wait(30000);
        }
        return 0;
    };
    for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(w->Enqueue(MakeJob(i)), 0);
    w->Resume();
    ASSERT_TRUE(entered.Wait(30000));
    w->Stop();
    release.Set();  // the job in hand is finished, the rest stays queued
    ASSERT_TRUE(WaitFor([&] { return w->finished(); }));
    EXPECT_EQ(w->WaitStop(), 1);
    EXPECT_EQ(w->done(), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(w->readIndex(), 3u);
    EXPECT_EQ(w->queued(), 97u);
}

}  // namespace
}  // namespace quorvane
