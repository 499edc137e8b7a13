#include "tools/nbtsim/sim_reply.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace quorvane::nbtsim {

namespace {

// Response header fields (the codec's constants cover the ones the monitor reads).
constexpr size_t kOffQuestion = 12;     // 34 bytes: length 0x20, the encoded "*", terminator
constexpr size_t kQuestionSize = 34;
constexpr size_t kOffType = 46;         // question type in a query, RR type in a response
constexpr size_t kOffClass = 48;
constexpr size_t kOffRdLength = 54;     // in a response, after the 4-byte TTL
constexpr size_t kStatisticsSize = 46;  // UNIT_ID (6) and 40 further bytes, all zero but UNIT_ID
constexpr uint8_t kUniqueFlags = 0x04;  // B-node, active
constexpr uint8_t kGroupFlags = 0x84;
constexpr uint8_t kQueryBroadcastBit = 0x10;  // second flags byte

constexpr uint8_t kQuestionBytes[kQuestionSize] = {
    0x20, 'C', 'K', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A',
    'A',  'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 0x00};

uint64_t NextRandom(uint64_t& s) {
    if (s == 0) s = 0x9E3779B97F4A7C15ull;
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
}

void PutBe16(uint8_t* p, size_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

struct MalformText {
    Malform kind;
    const char* name;
};
constexpr std::array<MalformText, 9> kMalformNames{{
    {Malform::None, "none"},
    {Malform::ResponseBitClear, "rbit"},
    {Malform::NoAnswers, "noanswer"},
    {Malform::TruncatedNames, "truncnames"},
    {Malform::TruncatedUnitId, "truncmac"},
    {Malform::ShortHeader, "short"},
    {Malform::Empty, "empty"},
    {Malform::RandomBytes, "random"},
    {Malform::Oversized, "oversized"},
}};
constexpr std::array<Malform, 8> kAllMalforms{Malform::ResponseBitClear, Malform::NoAnswers,
                                              Malform::TruncatedNames,   Malform::TruncatedUnitId,
                                              Malform::ShortHeader,      Malform::Empty,
                                              Malform::RandomBytes,      Malform::Oversized};

}  // namespace

HostProfile DefaultProfile(uint32_t address) {
    const auto* o = reinterpret_cast<const uint8_t*>(&address);
    char text[16];
    HostProfile p;
    std::snprintf(text, sizeof text, "H-%u-%u-%u", o[1], o[2], o[3]);
    p.hostName = text;
    std::snprintf(text, sizeof text, "WG-%u", o[2]);
    p.groupName = text;
    std::snprintf(text, sizeof text, "U-%u-%u-%u", o[1], o[2], o[3]);
    p.userName = text;
    p.mac = {0x02, 0x00, o[0], o[1], o[2], o[3]};
    return p;
}

std::vector<uint8_t> BuildNodeStatusResponse(const HostProfile& profile) {
    struct Entry {
        const std::string* name;
        uint8_t suffix;
        uint8_t flags;
    };
    // The order of the codec's documented example: host<00>, group<00>, host<20>, host<03>,
    // group<1E>, user<03>.
    const Entry all[] = {{&profile.hostName, 0x00, kUniqueFlags}, {&profile.groupName, 0x00, kGroupFlags},
                         {&profile.hostName, 0x20, kUniqueFlags}, {&profile.hostName, 0x03, kUniqueFlags},
                         {&profile.groupName, 0x1E, kGroupFlags}, {&profile.userName, 0x03, kUniqueFlags}};
    size_t count = 0;
    for (const Entry& e : all) count += e.name->empty() ? 0 : 1;

    std::vector<uint8_t> r(kOffNames + count * kNodeNameSize + kStatisticsSize, 0);
    r[kOffFlags] = 0x84;  // response, opcode 0, authoritative
    r[kOffAnCount + 1] = 1;
    std::memcpy(&r[kOffQuestion], kQuestionBytes, kQuestionSize);
    r[kOffType + 1] = 0x21;
    r[kOffClass + 1] = 0x01;
    PutBe16(&r[kOffRdLength], r.size() - kOffNumNames);
    r[kOffNumNames] = static_cast<uint8_t>(count);
    size_t off = kOffNames;
    for (const Entry& e : all) {
        if (e.name->empty()) continue;
        const NbName nb = MakeNbName(*e.name);
        std::memcpy(&r[off], nb.data(), nb.size());
        r[off + 15] = e.suffix;
        r[off + 16] = e.flags;
        off += kNodeNameSize;
    }
    std::memcpy(&r[off], profile.mac.data(), profile.mac.size());
    return r;
}

const char* MalformName(Malform kind) {
    for (const auto& m : kMalformNames)
        if (m.kind == kind) return m.name;
    return "?";
}

std::optional<Malform> ParseMalform(std::string_view text) {
    for (const auto& m : kMalformNames)
        if (text == m.name) return m.kind;
    return std::nullopt;
}

std::span<const Malform> AllMalforms() { return kAllMalforms; }

size_t ComposeReply(std::span<const uint8_t> response, const uint8_t tid[2], Malform kind, uint64_t& rng,
                    std::span<uint8_t> out) {
    if (out.size() < kMaxComposedLength || response.size() > kMaxComposedLength ||
        response.size() <= kOffNumNames)
        return 0;
    uint8_t* p = out.data();
    std::memcpy(p, response.data(), response.size());
    p[0] = tid[0];
    p[1] = tid[1];
    size_t len = response.size();
    const size_t names = response[kOffNumNames];
    switch (kind) {
        case Malform::None:
            break;
        case Malform::ResponseBitClear:
            p[kOffFlags] &= 0x7F;
            break;
        case Malform::NoAnswers:
            p[kOffAnCount] = 0;
            p[kOffAnCount + 1] = 0;
            break;
        case Malform::TruncatedNames:
            // Seven bytes into the third entry, or into the first when there are fewer.
            len = std::min(len, kOffNames + (names >= 3 ? 2 : 0) * kNodeNameSize + 7);
            break;
        case Malform::TruncatedUnitId:
            len = std::min(len, kOffNames + names * kNodeNameSize + 3);
            break;
        case Malform::ShortHeader:
            len = 30;
            break;
        case Malform::Empty:
            len = 0;
            break;
        case Malform::RandomBytes:
            len = 2 + NextRandom(rng) % 511;
            for (size_t i = 2; i < len; ++i) p[i] = static_cast<uint8_t>(NextRandom(rng) >> 24);
            break;
        case Malform::Oversized:
            std::memset(p + len, 0, kOversizedLength - len);
            len = kOversizedLength;
            PutBe16(p + kOffRdLength, len - kOffNumNames);
            break;
    }
    return len;
}

bool IsNodeStatusQuery(std::span<const uint8_t> d) {
    if (d.size() < kQueryLength) return false;
    if (d[2] != 0x00 || (d[3] != 0x00 && d[3] != kQueryBroadcastBit)) return false;
    if (d[4] != 0x00 || d[5] != 0x01) return false;
    if (std::memcmp(&d[kOffQuestion], kQuestionBytes, kQuestionSize) != 0) return false;
    return d[kOffType] == 0x00 && d[kOffType + 1] == 0x21 && d[kOffClass] == 0x00 && d[kOffClass + 1] == 0x01;
}

std::optional<MacAddress> ParseMac(std::string_view text) {
    // Exactly six two-digit hex groups joined by one kind of separator.
    if (text.size() != 17) return std::nullopt;
    const char sep = text[2];
    if (sep != ':' && sep != '-') return std::nullopt;
    MacAddress mac{};
    for (size_t i = 0; i < 6; ++i) {
        if (i > 0 && text[i * 3 - 1] != sep) return std::nullopt;
        unsigned v = 0;
        for (size_t k = 0; k < 2; ++k) {
            const char c = text[i * 3 + k];
            unsigned d;
            if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
            else return std::nullopt;
            v = v * 16 + d;
        }
        mac[i] = static_cast<uint8_t>(v);
    }
    return mac;
}

std::string FormatMacText(const MacAddress& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

}  // namespace quorvane::nbtsim
