#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/sync.h"
#include "platform/thread.h"
#include "platform/tick.h"

namespace quorvane {
namespace {

TEST(Event, AutoResetIsConsumedByOneWaitManualStays) {
    Event a(Event::Reset::Auto, true);
    EXPECT_TRUE(a.Wait(0));
    EXPECT_FALSE(a.Wait(0));
    Event m(Event::Reset::Manual);
    EXPECT_FALSE(m.Wait(10));
    m.Set();
    EXPECT_TRUE(m.Wait(0));
    EXPECT_TRUE(m.Wait(0));
    m.Clear();
    EXPECT_FALSE(m.IsSet());
}

TEST(Event, WaitBothPumpsUntilBothAreSetOrTimeOut) {
    Event a, b;
    int pumps = 0;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        a.Set();
        b.Set();
    });
    EXPECT_TRUE(Event::WaitBoth(a, b, 10000, 5, [&] { ++pumps; }));
    setter.join();
    EXPECT_GT(pumps, 0);

    Event c, d;
    c.Set();
    EXPECT_FALSE(Event::WaitBoth(c, d, 40, 10, [] {}));
}

TEST(PollEvent, SetAndConsume) {
    PollEvent e;
    ASSERT_TRUE(e.valid());
    EXPECT_FALSE(e.Consume());
    e.Set();
    e.Set();
    EXPECT_TRUE(e.Consume());
    EXPECT_FALSE(e.Consume());
}

TEST(Thread, BodyRunsOnlyAfterResume) {
    std::atomic<bool> ran{false};
    Thread t([&] {
        ran = true;
        return 7;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(ran.load());
    t.Resume();
    EXPECT_EQ(t.Join(10000), Thread::JoinResult::Joined);
    EXPECT_TRUE(ran.load());
    EXPECT_EQ(t.ExitCode(), 7);
    EXPECT_EQ(t.Join(10), Thread::JoinResult::NoThread);
}

TEST(Thread, NeverResumedThreadIsReleasedWithoutRunning) {
    std::atomic<bool> ran{false};
    {
        Thread t([&] {
            ran = true;
            return 0;
        });
    }
    EXPECT_FALSE(ran.load());
}

TEST(Thread, JoinTimeoutAbandonsAStuckThread) {
    auto release = std::make_shared<Event>(Event::Reset::Manual);
    Thread t([release] {
        release->Wait();
        return 0;
    });
    t.Resume();
    EXPECT_EQ(t.Join(30), Thread::JoinResult::Abandoned);
    release->Set();  // let the detached thread end before the test program does
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TEST(Ticks, ManualAndSystem) {
    ManualTicks m(100);
    m.Advance(50);
    EXPECT_EQ(m.Now(), 150u);
    m.Set(0xFFFFFFFFu);
    m.Advance(2);
    EXPECT_EQ(m.Now(), 1u);  // wraps like the kernel's counter
    const uint32_t a = SystemTicks().Now();
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    EXPECT_GE(SystemTicks().Now() - a, 10u);
}

}  // namespace
}  // namespace quorvane
