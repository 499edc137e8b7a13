#pragma once
// What the reply receiver does with one datagram: the acceptance checks, the host found by
// transaction id and source address, the in-time check, the saved reply, the name and MAC
// selection, and the state step towards Up, with the messages to the host view.

#include <cstdint>
#include <span>

#include "engine/host_table.h"
#include "engine/messages.h"
#include "platform/tick.h"
#include "settings/app_settings.h"

namespace quorvane {

class ReplyHandler {
public:
    ReplyHandler(HostTable& table, const AppSettings& settings, MessageTarget& hostView, TickSource& ticks);

    enum class Outcome { Ignored, Late, Unchanged, Parsed };
    // source is the datagram's IPv4 source address (network order); its port is not checked.
    Outcome Handle(std::span<const uint8_t> datagram, uint32_t source);

private:
    HostTable& table_;
    const AppSettings& settings_;
    MessageTarget& hostView_;
    TickSource& ticks_;
    NodeStatusReply reply_;  // receiver thread only; large, so kept out of the stack
};

}  // namespace quorvane
