// The Qt message target: posts in order on the UI thread, blocking sends with results, direct
// sends on the UI thread, answering sends while the UI thread waits, release at close, and
// bursts absorbed in slices while the event loop keeps running.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/gui/gui_support.h"
#include "ui/message_bridge.h"

namespace quorvane::test {
namespace {

EngineMessage Msg(uint32_t message, uint64_t w = 0) {
    EngineMessage m;
    m.message = message;
    m.wParam = w;
    return m;
}

TEST(QtMessageTarget, PostsFromAWorkerAreHandledInOrderOnTheUiThread) {
    const auto ui = std::this_thread::get_id();
    std::vector<uint64_t> seen;
    bool allOnUi = true;
    QtMessageTarget target([&](const EngineMessage& m) {
        allOnUi = allOnUi && std::this_thread::get_id() == ui;
        seen.push_back(m.wParam);
        return int64_t{0};
    });
    std::thread worker([&] {
        for (uint64_t i = 0; i < 2000; ++i) target.Post(Msg(WM_HOSTFOUND, i));
    });
    worker.join();
    EXPECT_TRUE(seen.empty()) << "a post must not run before the UI thread takes it";
    ASSERT_TRUE(WaitUntil([&] { return seen.size() == 2000; }));
    EXPECT_TRUE(allOnUi);
    for (uint64_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], i);
}

TEST(QtMessageTarget, SendBlocksTheWorkerUntilHandledAndReturnsTheResult) {
    std::atomic<bool> returned{false};
    std::atomic<int64_t> result{0};
    QtMessageTarget target([](const EngineMessage& m) { return m.message == WM_PASSBEGIN ? int64_t{-1} : 7; });
    std::thread worker([&] {
        result = target.Send(Msg(WM_PASSBEGIN));
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load()) << "Send returned before the UI thread handled it";
    EXPECT_TRUE(WaitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(result.load(), -1);
}

TEST(QtMessageTarget, SendOnTheUiThreadIsADirectCall) {
    int calls = 0;
    QtMessageTarget target([&](const EngineMessage& m) {
        ++calls;
        return static_cast<int64_t>(m.wParam + 1);
    });
    EXPECT_EQ(target.Send(Msg(WM_PASSEND, 41)), 42);
    EXPECT_EQ(calls, 1);
}

TEST(QtMessageTarget, AWaitingUiThreadAnswersSendsThroughTheEventPump) {
    // The UI thread is busy (as in a table edit) and only pumps: the sender must still get its
    // answer, and posted messages must wait for the event loop.
    std::atomic<bool> sent{false};
    int posts = 0;
    QtMessageTarget target([&](const EngineMessage& m) {
        if (m.message == WM_HOSTFOUND) ++posts;
        return int64_t{5};
    });
    target.Post(Msg(WM_HOSTFOUND));
    std::thread worker([&] {
        EXPECT_EQ(target.Send(Msg(WM_HOSTMISSED)), 5);
        sent = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!sent && clock.elapsed() < 5000) {
        target.ProcessPendingSends();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    EXPECT_TRUE(sent.load());
    EXPECT_EQ(posts, 0);
    EXPECT_TRUE(WaitUntil([&] { return posts == 1; }));
}

TEST(QtMessageTarget, CloseReleasesAWaitingSenderAndDropsLaterMessages) {
    int handled = 0;
    auto target = std::make_unique<QtMessageTarget>([&](const EngineMessage&) {
        ++handled;
        return int64_t{9};
    });
    std::atomic<bool> returned{false};
    std::atomic<int64_t> result{-5};
    std::thread worker([&] {
        result = target->Send(Msg(WM_HOSTDOWN));
        returned = true;
    });
    // The send stays queued: nothing here runs the event loop or the pump.
    QElapsedTimer clock;
    clock.start();
    while (target->pendingSends() == 0 && clock.elapsed() < 5000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(target->pendingSends(), 1u);
    EXPECT_FALSE(returned.load());
    target->Close();
    worker.join();
    EXPECT_EQ(result.load(), 0);
    target->Post(Msg(WM_HOSTFOUND));
    EXPECT_EQ(target->Send(Msg(WM_HOSTFOUND)), 9) << "the UI thread itself still calls directly";
    std::thread late([&] { EXPECT_EQ(target->Send(Msg(WM_HOSTFOUND)), 0); });
    late.join();
    Spin(20);
    EXPECT_EQ(handled, 1);
}

TEST(QtMessageTarget, ABurstIsAbsorbedInSlicesWhileTheEventLoopRuns) {
    constexpr int kMessages = 4000;
    int handled = 0;
    QtMessageTarget target([&](const EngineMessage&) {
        // About 0.25 ms of work per message: the burst takes a second or more.
        QElapsedTimer busy;
        busy.start();
        while (busy.nsecsElapsed() < 250000) {
        }
        ++handled;
        return int64_t{0};
    });
    target.SetSliceBudget(std::chrono::milliseconds(8));
    int ticksDuringBurst = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        if (handled > 0 && handled < kMessages) ++ticksDuringBurst;
    });
    ticker.start();
    std::thread worker([&] {
        for (int i = 0; i < kMessages; ++i) target.Post(Msg(WM_HOSTFOUND));
    });
    worker.join();
    ASSERT_TRUE(WaitUntil([&] { return handled == kMessages; }, 60000));
    EXPECT_GE(ticksDuringBurst, 5) << "the event loop did not run between slices";
}

}  // namespace
}  // namespace quorvane::test
