#pragma once
// Text commands that steer a simulator, one per line; the nbtsim program reads them from its
// standard input, so a scenario is a script piped in. TARGET is an address, an inclusive range
// "a.b.c.d-e.f.g.h" or "all" (the configured hosts in it). NAME "-" is the empty name.
//
//   silent TARGET on|off        host TARGET NAME       group TARGET NAME     user TARGET NAME
//   mac TARGET 02:00:00:00:00:01                       delay TARGET MS
//   spoof TARGET ADDR|off       malformed TARGET KIND  every TARGET K        reset TARGET
//   stats [ADDR]                sleep MS               quit                  help
//
// KIND: none rbit noanswer truncnames truncmac short empty random oversized.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/nbtsim/nbt_simulator.h"

namespace quorvane::nbtsim {

struct CommandResult {
    bool ok = true;
    bool quit = false;
    uint32_t sleepMs = 0;  // the caller sleeps this long before the next command
    std::string output;    // text for the user (an error message when !ok)
};

CommandResult RunCommand(NbtSimulator& sim, std::string_view line);

// "a.b.c.d", "a.b.c.d-e.f.g.h" (inclusive) or "a.b.c.d/COUNT" as first address and count.
std::optional<std::pair<uint32_t, uint32_t>> ParseAddressRange(std::string_view text);

std::string FormatStats(const SimulatorStats& stats);
std::string FormatHost(const HostState& host);

extern const char* const kCommandHelp;

}  // namespace quorvane::nbtsim
