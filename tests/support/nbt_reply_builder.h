#pragma once
// Builds node status responses for tests: a header like a real responder's, the name table and
// the UNIT_ID, with helpers to corrupt them.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/nbt_codec.h"

namespace quorvane::test {

struct ReplyName {
    std::string name;
    uint8_t suffix;
    bool group = false;
};

inline std::vector<uint8_t> BuildReply(uint16_t transactionId, const std::vector<ReplyName>& names,
                                       const MacAddress& mac = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30}) {
    std::vector<uint8_t> d(57, 0);
    d[0] = static_cast<uint8_t>(transactionId & 0xFF);
    d[1] = static_cast<uint8_t>(transactionId >> 8);
    d[2] = 0x84;  // response, authoritative
    d[7] = 1;     // ANCOUNT
    d[12] = 0x20;
    for (int i = 0; i < 32; ++i) d[13 + i] = i < 2 ? "CK"[i] : 'A';
    d[47] = 0x21;
    d[49] = 0x01;
    const size_t rdlength = 1 + 18 * names.size() + 46;
    d[54] = static_cast<uint8_t>(rdlength >> 8);
    d[55] = static_cast<uint8_t>(rdlength & 0xFF);
    d[56] = static_cast<uint8_t>(names.size());
    for (const ReplyName& n : names) {
        const NbName padded = MakeNbName(n.name);
        d.insert(d.end(), padded.begin(), padded.end());
        d.push_back(n.suffix);
        d.push_back(n.group ? 0x84 : 0x04);
        d.push_back(0x00);
    }
    d.insert(d.end(), mac.begin(), mac.end());
    d.resize(d.size() + 40, 0);  // the rest of the statistics
    return d;
}

// The usual table of a workstation: NAME<00>, GROUP<00>g, NAME<20>, NAME<03>, GROUP<1E>g, USER<03>.
inline std::vector<ReplyName> WorkstationNames(const std::string& host, const std::string& group,
                                               const std::string& user) {
    return {{host, 0x00}, {group, 0x00, true}, {host, 0x20}, {host, 0x03}, {group, 0x1E, true}, {user, 0x03}};
}

}  // namespace quorvane::test
