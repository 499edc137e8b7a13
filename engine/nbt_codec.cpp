#include "engine/nbt_codec.h"

#include <algorithm>
#include <cstring>

namespace quorvane {

namespace {

// Header fields of the query (all others stay zero).
constexpr size_t kOffQdCount = 4;
constexpr size_t kOffQuestion = 12;  // length byte 0x20, 32 encoded bytes, terminator
constexpr char kWildcardEncoded[] = "CKAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";  // "*" + 15 zero bytes
constexpr size_t kOffQuestionType = 46;
constexpr size_t kOffQuestionClass = 48;
constexpr size_t kUnitIdSize = 6;
constexpr size_t kEntrySuffix = 15;  // within a NODE_NAME entry: the suffix byte after the name
constexpr size_t kEntryFlags = 16;   // within a NODE_NAME entry: the first NAME_FLAGS byte

constexpr uint8_t kSuffixWorkstation = 0x00;
constexpr uint8_t kSuffixMessenger = 0x03;
constexpr uint8_t kSuffixServer = 0x20;
constexpr uint8_t kSuffixBrowserElection = 0x1E;

// A bounds-checked reader over the received bytes.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> data) : data_(data) {}
    bool Has(size_t offset, size_t count) const {
        return offset <= data_.size() && count <= data_.size() - offset;
    }
    uint8_t U8(size_t offset) const { return data_[offset]; }
    uint16_t Be16(size_t offset) const {
        return static_cast<uint16_t>(data_[offset] << 8 | data_[offset + 1]);
    }
    const uint8_t* At(size_t offset) const { return data_.data() + offset; }

private:
    std::span<const uint8_t> data_;
};

struct PairRule {
    bool group;             // which kind of name is looked for
    uint8_t partnerSuffix;  // 0x20 for the host name, 0x1E for the work group
};

// Steps 1 and 2 of the host-name and work-group rules.
std::optional<NbName> SelectPaired(const NodeStatusReply& reply, std::array<bool, 255>& taken,
                                   const PairRule& rule, const NbName& stored) {
    const size_t n = reply.nameCount;
    auto matches = [&](size_t k, uint8_t suffix) {
        return reply.names[k].group() == rule.group && reply.names[k].suffix == suffix;
    };
    // Step 1: the first suffix-0x00 name with a later partner of the same bytes.
    auto pairedName = [&]() -> std::optional<NbName> {
        for (size_t i = 0; i < n; ++i) {
            if (taken[i] || !matches(i, kSuffixWorkstation)) continue;
            taken[i] = true;
            for (size_t j = i + 1; j < n; ++j) {
                if (taken[j] || !matches(j, rule.partnerSuffix) || reply.names[j].name != reply.names[i].name) continue;
                taken[j] = true;
                return reply.names[i].name;
            }
        }
        return std::nullopt;
    };
    if (const auto pair = pairedName(); pair && *pair != stored) return pair;
    // Step 2: no pair, or it names the stored value: the first suffix-0x00 name, taken or not.
    for (size_t i = 0; i < n; ++i) {
        if (matches(i, kSuffixWorkstation)) {
            if (reply.names[i].name != stored) return reply.names[i].name;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

void BuildNodeStatusQuery(QueryDatagram& query) {
    query.fill(0);
    query[kOffQdCount + 1] = 0x01;
    query[kOffQuestion] = 0x20;
    std::memcpy(&query[kOffQuestion + 1], kWildcardEncoded, 32);
    query[kOffQuestion + 33] = 0x00;
    query[kOffQuestionType] = 0x00;
    query[kOffQuestionType + 1] = 0x21;
    query[kOffQuestionClass] = 0x00;
    query[kOffQuestionClass + 1] = 0x01;
}

void StampQuery(QueryDatagram& query, uint16_t slotIndex) {
    query[0] = static_cast<uint8_t>(slotIndex & 0xFF);
    query[1] = static_cast<uint8_t>(slotIndex >> 8);
}

std::optional<uint16_t> ReplyTransactionId(std::span<const uint8_t> datagram) {
    if (datagram.size() < 2) return std::nullopt;
    return static_cast<uint16_t>(datagram[0] | datagram[1] << 8);
}

bool AcceptNodeStatusReply(std::span<const uint8_t> datagram) {
    const Reader r(datagram);
    if (datagram.empty() || !r.Has(kOffFlags, 1) || !(r.U8(kOffFlags) & 0x80)) return false;
    return r.Has(kOffAnCount, 2) && r.Be16(kOffAnCount) != 0;
}

bool ParseNodeStatusReply(std::span<const uint8_t> datagram, NodeStatusReply& out) {
    const Reader r(datagram);
    // The view is reused from reply to reply: a failed parse leaves no names and no MAC behind.
    out.declaredNames = 0;
    out.nameCount = 0;
    out.unitId.reset();
    if (!r.Has(kOffNumNames, 1)) return false;
    out.transactionId = static_cast<uint16_t>(r.U8(0) | r.U8(1) << 8);
    out.isResponse = (r.U8(kOffFlags) & 0x80) != 0;
    out.answerCount = r.Be16(kOffAnCount);
    out.declaredNames = r.U8(kOffNumNames);
    size_t complete = 0;
    while (complete < out.declaredNames && r.Has(kOffNames + complete * kNodeNameSize, kNodeNameSize)) {
        const size_t off = kOffNames + complete * kNodeNameSize;
        NodeName& nn = out.names[complete];
        std::memcpy(nn.name.data(), r.At(off), nn.name.size());
        nn.suffix = r.U8(off + kEntrySuffix);
        nn.flags = r.U8(off + kEntryFlags);
        ++complete;
    }
    out.nameCount = static_cast<uint8_t>(complete);
    const size_t unitOff = kOffNames + size_t{out.declaredNames} * kNodeNameSize;
    if (r.Has(unitOff, kUnitIdSize)) {
        MacAddress mac{};
        std::memcpy(mac.data(), r.At(unitOff), mac.size());
        out.unitId = mac;
    }
    return true;
}

SelectedNames SelectNames(const NodeStatusReply& reply, const StoredNames& stored) {
    SelectedNames result;
    std::array<bool, 255> taken{};
    const size_t n = reply.nameCount;

    result.hostName = SelectPaired(reply, taken, {false, kSuffixServer}, stored.hostName);
    result.groupName = SelectPaired(reply, taken, {true, kSuffixBrowserElection}, stored.groupName);

    auto isUser = [&](size_t k) {
        return !taken[k] && !reply.names[k].group() && reply.names[k].suffix == kSuffixMessenger;
    };
    size_t first = n;
    for (size_t i = 0; i < n; ++i) {
        if (isUser(i)) {
            first = i;
            break;
        }
    }
    if (first < n) {
        taken[first] = true;
        result.userName = reply.names[first].name;
        for (size_t j = first + 1; j < n; ++j) {
            if (!isUser(j)) continue;
            taken[j] = true;
            const NbName& name = reply.names[j].name;
            if (result.hostName && name == *result.hostName) continue;  // the host's own messenger name
            if (name == stored.userName) {
                // The stored user is still there: no change, also when the host was renamed (the
                // first <03> name is then usually the host's own, which is not a user).
                result.userName.reset();
            } else {
                result.userName = name;
            }
        }
        // A "change" to the name already stored is no change: without this, a reply whose only
        // user name equals the stored one would report the user name changed to itself.
        if (result.userName && *result.userName == stored.userName) result.userName.reset();
    }

    if (reply.unitId && *reply.unitId != stored.mac) result.mac = reply.unitId;
    return result;
}

NbName MakeNbName(std::string_view text) {
    NbName name;
    name.fill(' ');
    // std::copy_n, not memcpy: an empty string_view may carry a null pointer.
    std::copy_n(text.begin(), std::min(text.size(), name.size()), name.begin());
    return name;
}

}  // namespace quorvane
