#pragma once
// One probe pass of the sender: asks the host view whether the service runs, counts unanswered
// queries older than a host's reply time-out as missed replies (moving hosts towards Down), and
// sends a node status query to every host without an outstanding query.
//
// Every slot below highWater is examined (not only the first 256): the program exists to watch
// every configured address.
//
// Pacing: a pass over a large table would send tens of thousands of queries back to back, and
// their replies would overflow the probe socket's receive buffer; a dropped reply is a false
// miss. So a query waits while the one sent kPacingWindow queries before it is unanswered,
// unless that one is older than kPacingExpiryMs and the receive queue is less than a quarter full
// (the receiver keeps up, so the address is silent or slow). Empty ranges still go fast; no
// wait lasts longer than kPacingMaxWaitMs.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

#include "engine/host_table.h"
#include "engine/messages.h"
#include "engine/nbt_codec.h"
#include "platform/net.h"
#include "platform/tick.h"
#include "settings/app_settings.h"

namespace quorvane {

inline constexpr uint32_t kPacingWindow = 128;
inline constexpr uint32_t kPacingExpiryMs = 5;
inline constexpr uint32_t kPacingMaxWaitMs = 200;

class ProbePass {
public:
    // Sends one datagram; the result is what sendto returns (bytes sent, or negative).
    using SendFn = std::function<long(std::span<const uint8_t>, const Endpoint&)>;
    // True while replies wait unread in large numbers (the receive queue is a quarter full or more).
    using BacklogFn = std::function<bool()>;

    ProbePass(HostTable& table, const AppSettings& settings, MessageTarget& hostView,
              const std::atomic<uint8_t>& serviceStopped, TickSource& ticks, SendFn send,
              uint16_t nbnsPort = kNbnsPort, BacklogFn backlog = {});

    // Builds the query datagram (the sender's OnStart).
    void Prepare();
    // One pass.
    void Run();
    // Ends a pass under way at the next host (and any pacing wait) and makes later passes end at
    // once: the sender is stopping, and a pass over a large table must not outlive its owner's
    // wait for the thread. Any thread.
    void RequestStop() { stopRequested_.store(true, std::memory_order_relaxed); }

    uint64_t queriesSent() const { return queriesSent_.load(std::memory_order_relaxed); }

private:
    void SendQuery(HostEntry& host, uint16_t slot);
    // Waits until the oldest of the last kPacingWindow queries is answered or old enough.
    void Pace();

    HostTable& table_;
    const AppSettings& settings_;
    MessageTarget& hostView_;
    const std::atomic<uint8_t>& serviceStopped_;
    TickSource& ticks_;
    SendFn send_;
    BacklogFn backlog_;
    uint16_t nbnsPort_;
    QueryDatagram query_{};  // sender thread only
    struct Flight {
        bool used = false;
        uint16_t slot = 0;
        uint32_t tick = 0;  // the host's lastSendTick for this query
        std::chrono::steady_clock::time_point sent;
    };
    std::array<Flight, kPacingWindow> flights_{};  // sender thread only
    uint32_t nextFlight_ = 0;
    std::atomic<uint64_t> queriesSent_{0};
    std::atomic<bool> stopRequested_{false};
};

}  // namespace quorvane
