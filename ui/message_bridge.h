#pragma once
// The Qt side of the message catalogue: a window's message target on the UI thread.
//
// Post queues the message and wakes the UI thread with one queued event; the UI thread then
// handles posted messages in slices of a few milliseconds, so a burst of thousands of messages
// never stops the event loop from painting and taking input. Send from another thread queues the
// message and blocks until the UI thread has handled it, returning the handler's result; Send on
// the UI thread calls the handler at once. Sent messages go before posted ones, and a UI thread
// that must wait for the engine (a table edit) keeps answering them through ProcessPendingSends.

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/messages.h"

namespace quorvane {

class QtMessageTarget final : public QObject, public MessageTarget {
public:
    using Handler = std::function<int64_t(const EngineMessage&)>;

    // Lives on the thread that creates it (the UI thread).
    explicit QtMessageTarget(Handler handler = {}, QObject* parent = nullptr);
    // Releases senders still waiting (they get 0) and drops what was posted.
    ~QtMessageTarget() override;

    void SetHandler(Handler handler);  // UI thread

    int64_t Send(EngineMessage message) override;
    void Post(EngineMessage message) override;

    // UI thread: handles the messages that other threads are sending now; returns the count.
    size_t ProcessPendingSends();
    // UI thread: handles every queued message now, sent and posted; returns the count.
    size_t ProcessAll();
    // Refuses every later message (Send returns 0 at once, Post drops) and releases waiting
    // senders. For the end of the program, when the UI thread will answer no more.
    void Close();

    // How long one slice of posted messages may take before the event loop gets its turn.
    void SetSliceBudget(std::chrono::microseconds budget) { sliceBudget_ = budget; }
    size_t pendingPosts() const;
    size_t pendingSends() const;

protected:
    bool event(QEvent* e) override;

private:
    struct SentItem {
        EngineMessage message;
        int64_t result = 0;
        bool done = false;
    };
    bool OnOwnThread() const;
    void WakeLocked();  // REQUIRES: mutex_ held
    bool HandleOnePost();
    void HandleSlice();

    Handler handler_;  // UI thread
    const std::thread::id ownerThread_;
    std::chrono::microseconds sliceBudget_{8000};

    mutable std::mutex mutex_;
    std::condition_variable doneCv_;   // a sent message was handled
    std::deque<SentItem*> sent_;       // guarded by mutex_; items live on the senders' stacks
    std::deque<EngineMessage> posted_;  // guarded by mutex_
    bool wakePending_ = false;          // guarded by mutex_: a wake event is queued
    bool closed_ = false;               // guarded by mutex_
    std::atomic<bool> sendWaiting_{false};
};

}  // namespace quorvane
