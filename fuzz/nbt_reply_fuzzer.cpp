// Node status replies from the network: acceptance, parsing and name selection.
//
// Input: 51 bytes of stored names (work group, host name, user name: 15 bytes each; MAC: 6)
// followed by the datagram. Shorter inputs are all datagram, against empty stored names. The
// datagram is the tail of the input, so a read past its end leaves libFuzzer's buffer and is
// caught by AddressSanitizer. Besides crashes, the contracts of the codec are checked.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "engine/nbt_codec.h"

namespace {

using namespace quorvane;

constexpr size_t kStoredSize = 3 * 15 + 6;

void Check(bool ok) {
    if (!ok) std::abort();
}

bool InReply(const NodeStatusReply& r, const NbName& name) {
    return std::any_of(r.names.begin(), r.names.begin() + r.nameCount,
                       [&](const NodeName& n) { return n.name == name; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StoredNames stored;
    std::span<const uint8_t> datagram(data, size);
    if (size >= kStoredSize) {
        std::memcpy(stored.groupName.data(), data, 15);
        std::memcpy(stored.hostName.data(), data + 15, 15);
        std::memcpy(stored.userName.data(), data + 30, 15);
        std::memcpy(stored.mac.data(), data + 45, 6);
        datagram = datagram.subspan(kStoredSize);
    }

    const bool accepted = AcceptNodeStatusReply(datagram);
    Check(!accepted || datagram.size() >= 8);
    Check(ReplyTransactionId(datagram).has_value() == (datagram.size() >= 2));

    static NodeStatusReply reply;  // reused like the receiver's, so leftovers would show
    const bool parsed = ParseNodeStatusReply(datagram, reply);
    Check(parsed == (datagram.size() >= 57));
    Check(reply.nameCount <= reply.declaredNames);
    Check(57 + size_t{reply.nameCount} * 18 <= std::max<size_t>(datagram.size(), 57));
    Check(reply.unitId.has_value() == (parsed && 57 + size_t{reply.declaredNames} * 18 + 6 <= datagram.size()));
    if (parsed) {
        Check(reply.isResponse == ((datagram[2] & 0x80) != 0));
        Check(reply.transactionId == *ReplyTransactionId(datagram));
        // Every complete entry that was announced is used.
        Check(reply.nameCount == std::min<size_t>(reply.declaredNames, (datagram.size() - 57) / 18));
    }

    const SelectedNames s = SelectNames(reply, stored);
    // A new value always differs from the stored one and comes from the reply.
    Check(!s.hostName || (*s.hostName != stored.hostName && InReply(reply, *s.hostName)));
    Check(!s.groupName || (*s.groupName != stored.groupName && InReply(reply, *s.groupName)));
    Check(!s.userName || (*s.userName != stored.userName && InReply(reply, *s.userName)));
    Check(!s.mac || (*s.mac != stored.mac && reply.unitId == s.mac));
    return 0;
}
