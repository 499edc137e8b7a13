#pragma once
// Node status responses as a Samba name server sends them (flags 0x8400, one answer record, the
// names, UNIT_ID and 40 further statistics bytes), and the faulty variants the simulator sends
// when told to misbehave. Also the check that a datagram is a node status query we answer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/nbt_codec.h"

namespace quorvane::nbtsim {

// What one simulated host announces. An empty name leaves out the entries that carry it.
struct HostProfile {
    std::string hostName;   // unique <00>, <03> and <20>
    std::string groupName;  // group <00> and <1E>
    std::string userName;   // unique <03>, after the host's own
    MacAddress mac{};
    bool operator==(const HostProfile&) const = default;
};

// The deterministic profile of an address a.b.c.d: host "H-b-c-d", work group "WG-c" (hosts of
// one /24 share it), user "U-b-c-d", MAC 02:00:a:b:c:d (locally administered, unique).
HostProfile DefaultProfile(uint32_t address);

// A name the simulator can announce: at most 15 bytes.
inline bool ValidSimName(std::string_view name) { return name.size() <= 15; }

// The full response with transaction id 0; bytes 0 and 1 are stamped per query.
std::vector<uint8_t> BuildNodeStatusResponse(const HostProfile& profile);

enum class Malform : uint8_t {
    None,
    ResponseBitClear,  // flags 0x0400: looks like a query
    NoAnswers,         // ANCOUNT 0
    TruncatedNames,    // ends inside the third name entry
    TruncatedUnitId,   // all names, then only three bytes of UNIT_ID
    ShortHeader,       // 30 bytes: ends before NUM_NAMES
    Empty,             // a datagram of length 0
    RandomBytes,       // the transaction id, then 0 to 510 random bytes
    Oversized,         // the response padded to kOversizedLength bytes (RDLENGTH to match)
};
inline constexpr size_t kOversizedLength = kMaxDatagram + 1;
// The longest datagram ComposeReply can write.
inline constexpr size_t kMaxComposedLength = 2048;

const char* MalformName(Malform kind);
std::optional<Malform> ParseMalform(std::string_view text);
std::span<const Malform> AllMalforms();  // every kind except None

// Writes the reply for one query into out: template with the query's transaction id bytes, bent
// as kind says. rng is a xorshift state (not 0) for RandomBytes. Returns the length written, or
// 0 when out is shorter than kMaxComposedLength (an Empty reply also has length 0).
size_t ComposeReply(std::span<const uint8_t> response, const uint8_t tid[2], Malform kind, uint64_t& rng,
                    std::span<uint8_t> out);

// A node status request for the wildcard name, as the monitor, nmblookup -A and nbtscan send
// it: flags 0x0000 or 0x0010 (broadcast bit), QDCOUNT 1, the encoded "*", NBSTAT, IN.
bool IsNodeStatusQuery(std::span<const uint8_t> datagram);

// "02:00:5e:10:20:30" (or dashes) to bytes.
std::optional<MacAddress> ParseMac(std::string_view text);
std::string FormatMacText(const MacAddress& mac);

}  // namespace quorvane::nbtsim
