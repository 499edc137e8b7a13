#pragma once
// NetBIOS node status (RFC 1002 NBSTAT) query and response.
//
// The query is 50 bytes, built once and stamped with the host's slot index as transaction id
// (low byte first). A response is read only as far as its received length: a datagram too short
// for the name table it announces yields the complete entries it holds, and a MAC only when all
// six UNIT_ID bytes are there.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quorvane {

using NbName = std::array<uint8_t, 15>;  // 15 raw bytes, space-padded, compared byte for byte
using MacAddress = std::array<uint8_t, 6>;

inline constexpr size_t kQueryLength = 50;
inline constexpr size_t kMaxDatagram = 1500;  // receive buffer; a longer datagram is dropped
inline constexpr uint16_t kNbnsPort = 137;

// Wire offsets of the response fields the program reads.
inline constexpr size_t kOffFlags = 2;         // first flags byte; 0x80 is the R bit
inline constexpr size_t kOffAnCount = 6;       // ANCOUNT, big-endian
inline constexpr size_t kOffNumNames = 56;     // NUM_NAMES
inline constexpr size_t kOffNames = 57;        // first NODE_NAME entry
inline constexpr size_t kNodeNameSize = 18;    // 15 name bytes, suffix, 2 flag bytes
inline constexpr uint8_t kGroupBit = 0x80;     // first NAME_FLAGS byte: group name
inline constexpr uint8_t kDeregisterBit = 0x10;  // first NAME_FLAGS byte: being deregistered

using QueryDatagram = std::array<uint8_t, kQueryLength>;

// Fills the query with transaction id 0 (zero-filled first).
void BuildNodeStatusQuery(QueryDatagram& query);
// Writes the slot index into bytes 0 and 1, low byte first.
void StampQuery(QueryDatagram& query, uint16_t slotIndex);

struct NodeName {
    NbName name{};
    uint8_t suffix = 0;
    uint8_t flags = 0;  // first NAME_FLAGS byte
    bool group() const { return (flags & kGroupBit) != 0; }
    bool operator==(const NodeName&) const = default;
};

struct NodeStatusReply {
    uint16_t transactionId = 0;
    bool isResponse = false;
    uint16_t answerCount = 0;
    uint8_t declaredNames = 0;  // NUM_NAMES as sent
    uint8_t nameCount = 0;      // complete entries present in the datagram
    std::array<NodeName, 255> names{};
    std::optional<MacAddress> unitId;  // absent when the datagram ends before its six bytes
};

// Acceptance: at least one byte, R bit set, ANCOUNT not 0. Bytes that are missing fail the check.
bool AcceptNodeStatusReply(std::span<const uint8_t> datagram);

// Transaction id (low byte first); nullopt when fewer than two bytes arrived.
std::optional<uint16_t> ReplyTransactionId(std::span<const uint8_t> datagram);

// Parses the fields the program reads, never past datagram.size(). Returns false, with no names
// and no MAC in out, when the datagram does not reach NUM_NAMES (offset 56).
bool ParseNodeStatusReply(std::span<const uint8_t> datagram, NodeStatusReply& out);

// The four optional new values worked out from one response.
struct SelectedNames {
    std::optional<NbName> groupName;
    std::optional<NbName> hostName;
    std::optional<NbName> userName;
    std::optional<MacAddress> mac;
    bool any() const { return groupName || hostName || userName || mac; }
    bool operator==(const SelectedNames&) const = default;
};

struct StoredNames {
    NbName groupName{};
    NbName hostName{};
    NbName userName{};
    MacAddress mac{};
};

// The four selection rules (host name, work group, user name, MAC) in that order, sharing the
// taken marks of the entries. A user name is never reported as new while the stored user name
// is still among the reply's <03> names, nor when it equals the stored one.
SelectedNames SelectNames(const NodeStatusReply& reply, const StoredNames& stored);

// Builds an NbName from text: cut to 15 bytes, padded with spaces.
NbName MakeNbName(std::string_view text);

}  // namespace quorvane
