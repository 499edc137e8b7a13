#pragma once
// One probe pass of the sender: asks the host view whether the service runs, counts unanswered
// queries older than a host's reply time-out as missed replies (moving hosts towards Down), and
// sends a node status query to every host without an outstanding query.
//
// Every slot below highWater is examined (not only the first 256): the program exists to watch
// every configured address.

#include <atomic>
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

class ProbePass {
public:
    // Sends one datagram; the result is what sendto returns (bytes sent, or negative).
    using SendFn = std::function<long(std::span<const uint8_t>, const Endpoint&)>;

    ProbePass(HostTable& table, const AppSettings& settings, MessageTarget& hostView,
              const std::atomic<uint8_t>& serviceStopped, TickSource& ticks, SendFn send,
              uint16_t nbnsPort = kNbnsPort);

    // Builds the query datagram (the sender's OnStart).
    void Prepare();
    // One pass.
    void Run();

    uint64_t queriesSent() const { return queriesSent_.load(std::memory_order_relaxed); }

private:
    void SendQuery(HostEntry& host, uint16_t slot);

    HostTable& table_;
    const AppSettings& settings_;
    MessageTarget& hostView_;
    const std::atomic<uint8_t>& serviceStopped_;
    TickSource& ticks_;
    SendFn send_;
    uint16_t nbnsPort_;
    QueryDatagram query_{};  // sender thread only
    std::atomic<uint64_t> queriesSent_{0};
};

}  // namespace quorvane
