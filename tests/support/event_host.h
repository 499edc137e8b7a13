#pragma once
// A host as the notification tests see it: address text, space-padded names, MAC, description.

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/host_table.h"

namespace quorvane::test {

// Stores a name as an entry keeps it: padded with spaces to 15 characters, then a zero byte.
inline void PutName(NameField& field, std::string_view name) {
    field.fill(0);
    std::memset(field.data(), ' ', 15);
    std::memcpy(field.data(), name.data(), name.size() < 15 ? name.size() : 15);
}

// The name as an event text shows it: its 15 characters.
inline std::string Padded(std::string_view name) {
    std::string s(name);
    s.resize(15, ' ');
    return s;
}

inline std::unique_ptr<HostEntry> MakeEventHost(std::string_view ip = "192.168.1.5", std::string_view host = "PC1") {
    auto h = std::make_unique<HostEntry>();
    std::memset(h->ipText, 0, sizeof h->ipText);
    std::memcpy(h->ipText, ip.data(), ip.size() < sizeof h->ipText - 1 ? ip.size() : sizeof h->ipText - 1);
    PutName(h->hostName, host);
    PutName(h->groupName, "WORKGROUP");
    PutName(h->userName, "ALICE");
    h->mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    return h;
}

inline void PutDescription(HostEntry& h, std::string_view text) {
    h.description.fill(0);
    std::memcpy(h.description.data(), text.data(), text.size() < 87 ? text.size() : 87);
}

}  // namespace quorvane::test
