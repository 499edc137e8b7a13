#pragma once
// The engine's part of the start-up sequence: the vendor name order, the local address with the
// start-up defaults that depend on it, and the syslog socket.

#include <cstdint>
#include <optional>

#include "platform/net.h"
#include "settings/app_settings.h"

namespace quorvane {

inline constexpr int kSocketBufferBytes = 131072;

// Steps 3 to 6: BuildVendorNameOrder, GetLocalAddress, messenger and start-up defaults.
// localOverride (tests, the lab) replaces the look-up. Returns the local address used, if any.
std::optional<uint32_t> PrepareStartupDefaults(AppSettings& settings,
                                               std::optional<uint32_t> localOverride = std::nullopt);

// Step 7: a UDP socket with broadcast, bound to any address and an ephemeral port, a 1000 ms
// receive time-out and 131072-byte buffers. An invalid socket when any of that fails to open.
UdpSocket OpenNotifySocket();

}  // namespace quorvane
