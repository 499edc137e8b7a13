#pragma once
// A plain message target without any GUI: messages are queued and handled, in order, by
// whichever thread runs the loop (Run, or ProcessPending from a wait). Send blocks until its
// message has been handled; a Send made on the loop's own thread is handled at once. Used by
// tests, benchmarks and tools; the program uses the Qt bridge instead.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/messages.h"

namespace quorvane {

class MessageLoop final : public MessageTarget {
public:
    using Handler = std::function<int64_t(const EngineMessage&)>;
    explicit MessageLoop(Handler handler) : handler_(std::move(handler)) {}
    ~MessageLoop() override;

    int64_t Send(EngineMessage message) override;
    void Post(EngineMessage message) override;

    // Handles messages until Quit. Records the calling thread as the loop's thread.
    void Run();
    // Starts Run on a thread of its own; Quit and the destructor end it.
    void Start();
    void Quit();
    // Handles what is queued now (the calling thread becomes the loop's thread); returns the count.
    size_t ProcessPending();
    // Marks the calling thread as the loop's thread without running the loop.
    void AdoptCurrentThread();

private:
    struct Item {
        EngineMessage message;
        bool sent = false;
        bool done = false;
        int64_t result = 0;
    };
    bool OnLoopThread() const;
    void Handle(Item& item);

    Handler handler_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;       // new work for the loop
    std::condition_variable doneCv_;   // a sent message was handled
    std::deque<Item*> queue_;          // guarded by mutex_; posted items are owned by the queue
    std::thread::id loopThread_;       // guarded by mutex_
    bool quit_ = false;                // guarded by mutex_
    std::thread thread_;
};

}  // namespace quorvane
