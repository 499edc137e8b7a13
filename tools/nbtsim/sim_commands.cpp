#include "tools/nbtsim/sim_commands.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstdio>
#include <functional>

#include "platform/net.h"

namespace quorvane::nbtsim {

const char* const kCommandHelp =
    "commands (TARGET: ADDR, FIRST-LAST or all; NAME '-' is empty):\n"
    "  silent TARGET on|off      host|group|user TARGET NAME   mac TARGET aa:bb:cc:dd:ee:ff\n"
    "  delay TARGET MS           spoof TARGET ADDR|off         malformed TARGET KIND\n"
    "  every TARGET K            reset TARGET                  stats [ADDR]\n"
    "  sleep MS                  quit                          help\n"
    "  KIND: none rbit noanswer truncnames truncmac short empty random oversized\n";

namespace {

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::optional<uint32_t> Number(std::string_view text) {
    uint32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return v;
}

std::optional<uint32_t> Address(std::string_view text) { return ParseIpv4(std::string(text)); }

// The configured hosts a TARGET names; nullopt for a malformed TARGET.
std::optional<std::vector<uint32_t>> Targets(const NbtSimulator& sim, std::string_view text) {
    if (text == "all") return sim.HostAddresses();
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        const auto a = Address(text);
        if (!a) return std::nullopt;
        return std::vector<uint32_t>{*a};
    }
    const auto lo = Address(text.substr(0, dash));
    const auto hi = Address(text.substr(dash + 1));
    if (!lo || !hi || ntohl(*lo) > ntohl(*hi)) return std::nullopt;
    std::vector<uint32_t> out;
    for (const uint32_t a : sim.HostAddresses())
        if (ntohl(a) >= ntohl(*lo) && ntohl(a) <= ntohl(*hi)) out.push_back(a);
    return out;
}

CommandResult Error(std::string text) { return {false, false, 0, "error: " + text}; }

}  // namespace

std::optional<std::pair<uint32_t, uint32_t>> ParseAddressRange(std::string_view text) {
    if (const size_t slash = text.find('/'); slash != std::string_view::npos) {
        const auto first = Address(text.substr(0, slash));
        const auto count = Number(text.substr(slash + 1));
        if (!first || !count || *count == 0) return std::nullopt;
        return std::pair{*first, *count};
    }
    if (const size_t dash = text.find('-'); dash != std::string_view::npos) {
        const auto lo = Address(text.substr(0, dash));
        const auto hi = Address(text.substr(dash + 1));
        if (!lo || !hi || ntohl(*lo) > ntohl(*hi)) return std::nullopt;
        const uint64_t count = uint64_t{ntohl(*hi)} - ntohl(*lo) + 1;
        if (count > 0xFFFFFFFFull) return std::nullopt;
        return std::pair{*lo, static_cast<uint32_t>(count)};
    }
    const auto a = Address(text);
    if (!a) return std::nullopt;
    return std::pair{*a, 1u};
}

std::string FormatStats(const SimulatorStats& s) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "datagrams %llu queries %llu ignored %llu replies %llu send-errors %llu late-pending %llu "
                  "late-dropped %llu kernel-drops %llu",
                  static_cast<unsigned long long>(s.datagramsReceived),
                  static_cast<unsigned long long>(s.queriesReceived), static_cast<unsigned long long>(s.ignored),
                  static_cast<unsigned long long>(s.repliesSent), static_cast<unsigned long long>(s.sendErrors),
                  static_cast<unsigned long long>(s.lateReplyPending),
                  static_cast<unsigned long long>(s.lateReplyDropped),
                  static_cast<unsigned long long>(s.kernelDrops));
    return text;
}

std::string FormatHost(const HostState& h) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "%s host '%s' group '%s' user '%s' mac %s%s delay %u spoof %s malformed %s every %u "
                  "queries %llu replies %llu",
                  FormatIpv4(h.address).c_str(), h.profile.hostName.c_str(), h.profile.groupName.c_str(),
                  h.profile.userName.c_str(), FormatMacText(h.profile.mac).c_str(), h.silent ? " silent" : "",
                  h.delayMs, h.spoofSource ? FormatIpv4(h.spoofSource).c_str() : "off", MalformName(h.malform),
                  h.answerEvery, static_cast<unsigned long long>(h.queries),
                  static_cast<unsigned long long>(h.replies));
    return text;
}

CommandResult RunCommand(NbtSimulator& sim, std::string_view line) {
    const auto w = Words(line);
    if (w.empty()) return {};
    const std::string_view cmd = w[0];
    if (cmd == "help") return {true, false, 0, kCommandHelp};
    if (cmd == "quit" && w.size() == 1) return {true, true, 0, {}};
    if (cmd == "sleep" && w.size() == 2) {
        const auto ms = Number(w[1]);
        if (!ms || *ms > NbtSimulator::kMaxDelayMs) return Error("sleep wants 0 to 600000 ms");
        return {true, false, *ms, {}};
    }
    if (cmd == "stats" && w.size() <= 2) {
        if (w.size() == 1) return {true, false, 0, FormatStats(sim.Stats())};
        const auto a = Address(w[1]);
        const auto h = a ? sim.Host(*a) : std::nullopt;
        if (!h) return Error("not a simulated host: " + std::string(w[1]));
        return {true, false, 0, FormatHost(*h)};
    }

    // The per-host controls: an action applied to every target.
    std::function<bool(uint32_t)> apply;
    const size_t want = cmd == "reset" ? 2 : 3;
    if (w.size() != want) return Error("unknown command or wrong arguments: " + std::string(line) + " (try help)");
    const std::string_view arg = want == 3 ? w[2] : std::string_view{};
    if (cmd == "silent") {
        if (arg != "on" && arg != "off") return Error("silent wants on or off");
        const bool on = arg == "on";
        apply = [&, on](uint32_t a) { return sim.SetSilent(a, on); };
    } else if (cmd == "host" || cmd == "group" || cmd == "user") {
        const std::string_view name = arg == "-" ? std::string_view{} : arg;
        if (!ValidSimName(name)) return Error("a name has at most 15 bytes");
        if (cmd == "host") apply = [&, name](uint32_t a) { return sim.SetHostName(a, name); };
        if (cmd == "group") apply = [&, name](uint32_t a) { return sim.SetGroupName(a, name); };
        if (cmd == "user") apply = [&, name](uint32_t a) { return sim.SetUserName(a, name); };
    } else if (cmd == "mac") {
        const auto mac = ParseMac(arg);
        if (!mac) return Error("mac wants six hex pairs, e.g. 02:00:5e:10:20:30");
        apply = [&, m = *mac](uint32_t a) { return sim.SetMac(a, m); };
    } else if (cmd == "delay") {
        const auto ms = Number(arg);
        if (!ms || *ms > NbtSimulator::kMaxDelayMs) return Error("delay wants 0 to 600000 ms");
        apply = [&, v = *ms](uint32_t a) { return sim.SetDelay(a, v); };
    } else if (cmd == "spoof") {
        const auto from = arg == "off" ? std::optional<uint32_t>(0) : Address(arg);
        if (!from) return Error("spoof wants an address or off");
        apply = [&, f = *from](uint32_t a) { return sim.SetSpoofSource(a, f); };
    } else if (cmd == "malformed") {
        const auto kind = ParseMalform(arg);
        if (!kind) return Error("unknown kind: " + std::string(arg));
        apply = [&, k = *kind](uint32_t a) { return sim.SetMalformed(a, k); };
    } else if (cmd == "every") {
        const auto k = Number(arg);
        if (!k || *k == 0) return Error("every wants a count of at least 1");
        apply = [&, v = *k](uint32_t a) { return sim.SetAnswerEvery(a, v); };
    } else if (cmd == "reset") {
        apply = [&](uint32_t a) {
            return sim.SetProfile(a, DefaultProfile(a)) && sim.SetSilent(a, false) && sim.SetDelay(a, 0) &&
                   sim.SetSpoofSource(a, 0) && sim.SetMalformed(a, Malform::None) && sim.SetAnswerEvery(a, 1);
        };
    } else {
        return Error("unknown command: " + std::string(cmd) + " (try help)");
    }

    const auto targets = Targets(sim, w[1]);
    if (!targets) return Error("bad target: " + std::string(w[1]));
    size_t done = 0;
    for (const uint32_t a : *targets) done += apply(a) ? 1 : 0;
    if (done == 0) return Error("no simulated host in " + std::string(w[1]));
    return {true, false, 0, std::to_string(done) + " host(s)"};
}

}  // namespace quorvane::nbtsim
