#pragma once
// The two engine threads: the probe sender (a periodic ceventthread running probe passes) and
// the reply receiver (a cbasethread waiting on the probe socket and its pause event together).
// Both hold still at a pause point while the UI thread edits the host table.

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/probe_pass.h"
#include "engine/reply_handler.h"
#include "engine/worker_thread.h"
#include "platform/net.h"
#include "platform/sync.h"

namespace quorvane {

class csendnbtthread final : public ceventthread {
public:
    csendnbtthread(ProbePass& pass, Event& pausedAck, TickSource* ticks);

    int OnStart() override;
    int DoWork() override;

    // Table edit: hold at the pause point (the caller Triggers), until Release.
    void RequestPause() { pauseRequest_.store(1); }
    void Release() { resume_.Set(); }

private:
    ProbePass& pass_;
    Event& pausedAck_;
    Event resume_{Event::Reset::Auto};
    std::atomic<uint32_t> pauseRequest_{0};
};

class crecvnbtthread final : public cbasethread {
public:
    crecvnbtthread(UdpSocket& socket, ReplyHandler& handler, Event& pausedAck);

    // -1 when the socket cannot be waited on, else 0 once the stop flag ends the loop.
    int Run() override;
    int ExitCode() override { return exitCode_; }

    // Table edit: the pause event starts a pause, Release ends it.
    void RequestPause() { pauseEvent_.Set(); }
    void Release() { resume_.Set(); }
    // Sets the stop flag and wakes the loop (the engine's own teardown).
    void StopAndWake();

    uint64_t datagrams() const { return datagrams_.load(std::memory_order_relaxed); }

private:
    void Drain();

    UdpSocket& socket_;
    ReplyHandler& handler_;
    Event& pausedAck_;
    static constexpr unsigned kReceiveBatch = 64;
    PollEvent pauseEvent_;
    std::vector<uint8_t> buffers_;  // receive buffers of one batch
    Event resume_{Event::Reset::Auto};
    int exitCode_ = 0;
    std::atomic<uint64_t> datagrams_{0};
};

}  // namespace quorvane
