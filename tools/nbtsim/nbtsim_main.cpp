// nbtsim: answers NBT node status queries for many simulated hosts. Commands on standard input
// (see sim_commands.h or "help") change hosts while it runs.
//
//   nbtsim --hosts 127.1.0.1-127.1.255.254 [--port 137] [--duration SEC] [--stats-every SEC]
//
// Hosts outside 127.0.0.0/8 need --allow-non-loopback and belong in a lab network namespace:
// the simulator answers only for configured hosts, but those must never be real neighbours' addresses.

#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "tools/nbtsim/nbt_simulator.h"
#include "tools/nbtsim/sim_commands.h"

namespace {

using namespace quorvane;
using namespace quorvane::nbtsim;
using Clock = std::chrono::steady_clock;

volatile sig_atomic_t gSignalled = 0;
void OnSignal(int) { gSignalled = 1; }

constexpr size_t kMaxLine = 4096;

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: nbtsim --hosts RANGE [--hosts RANGE ...] [options]\n"
                 "  --hosts RANGE          FIRST-LAST, FIRST/COUNT or one address\n"
                 "  --port N               UDP port to answer on (default 137; 0: any free port)\n"
                 "  --bind ADDR            local address of the socket (default 0.0.0.0)\n"
                 "  --allow-non-loopback   permit hosts outside 127.0.0.0/8 (lab namespaces only)\n"
                 "  --duration SEC         stop after SEC seconds (default: quit, SIGINT or SIGTERM)\n"
                 "  --stats-every SEC      print the counters every SEC seconds\n"
                 "Commands are read from standard input, one per line.\n%s",
                 kCommandHelp);
}

struct Args {
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    uint16_t port = kNbnsPort;
    uint32_t bind = 0;
    bool allowNonLoopback = false;
    uint32_t durationSec = 0;
    uint32_t statsEverySec = 0;
};

bool ParseUnsigned(const char* text, uint32_t max, uint32_t& out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v > max || text[0] == '-') return false;
    out = static_cast<uint32_t>(v);
    return true;
}

bool ParseArgs(int argc, char** argv, Args& a) {
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            Usage(stdout);
            std::exit(0);
        }
        if (opt == "--allow-non-loopback") {
            a.allowNonLoopback = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "nbtsim: %s needs a value\n", opt.c_str());
            return false;
        }
        const char* v = argv[++i];
        uint32_t n = 0;
        if (opt == "--hosts") {
            const auto r = ParseAddressRange(v);
            if (!r) {
                std::fprintf(stderr, "nbtsim: bad range %s\n", v);
                return false;
            }
            a.ranges.push_back(*r);
        } else if (opt == "--port" && ParseUnsigned(v, 65535, n)) {
            a.port = static_cast<uint16_t>(n);
        } else if (opt == "--bind" && ParseIpv4(v)) {
            a.bind = *ParseIpv4(v);
        } else if (opt == "--duration" && ParseUnsigned(v, 86400 * 365, n)) {
            a.durationSec = n;
        } else if (opt == "--stats-every" && ParseUnsigned(v, 86400, n)) {
            a.statsEverySec = n;
        } else {
            std::fprintf(stderr, "nbtsim: bad option or value: %s %s\n", opt.c_str(), v);
            return false;
        }
    }
    if (a.ranges.empty()) {
        std::fprintf(stderr, "nbtsim: give at least one --hosts range\n");
        return false;
    }
    for (const auto& [first, count] : a.ranges) {
        const uint32_t last = htonl(ntohl(first) + count - 1);
        if (!a.allowNonLoopback && (!IsLoopback(first) || !IsLoopback(last))) {
            std::fprintf(stderr, "nbtsim: %s/%u leaves 127.0.0.0/8; use --allow-non-loopback only inside a lab namespace\n",
                         FormatIpv4(first).c_str(), count);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Args args;
    if (!ParseArgs(argc, argv, args)) {
        Usage(stderr);
        return 2;
    }
    NbtSimulator sim({.bindAddress = args.bind, .port = args.port});
    for (const auto& [first, count] : args.ranges) {
        if (sim.AddHosts(first, count) < 0) {
            std::fprintf(stderr, "nbtsim: too many hosts (at most %zu)\n", NbtSimulator::kMaxHosts);
            return 2;
        }
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!sim.Start()) {
        std::fprintf(stderr, "nbtsim: %s\n", sim.error().c_str());
        return 1;
    }
    std::printf("nbtsim: %zu hosts on port %u (receive buffer %d bytes)\n", sim.HostCount(), sim.port(),
                sim.receiveBufferBytes());
    std::fflush(stdout);

    const auto started = Clock::now();
    auto nextStats = started + std::chrono::seconds(args.statsEverySec);
    auto expired = [&] {
        return args.durationSec > 0 && Clock::now() - started >= std::chrono::seconds(args.durationSec);
    };
    std::string pending;
    bool discarding = false;  // inside a line that was too long, until its end
    bool stdinOpen = true;
    bool quit = false;
    while (!quit && !gSignalled && !expired()) {
        if (args.statsEverySec > 0 && Clock::now() >= nextStats) {
            std::printf("%s\n", FormatStats(sim.Stats()).c_str());
            std::fflush(stdout);
            nextStats += std::chrono::seconds(args.statsEverySec);
        }
        if (!stdinOpen) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        pollfd p{0, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[1024];
        const ssize_t n = read(0, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            stdinOpen = false;  // end of the script: keep answering until told to stop
            if (pending.empty()) continue;
            pending.push_back('\n');
        } else {
            pending.append(buf, static_cast<size_t>(n));
        }
        size_t nl;
        while (!quit && (nl = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (discarding) {
                discarding = false;
                continue;
            }
            const CommandResult r = RunCommand(sim, line);
            if (!r.output.empty()) std::printf("%s%s", r.output.c_str(), r.output.back() == '\n' ? "" : "\n");
            std::fflush(stdout);
            quit = r.quit;
            // A scripted pause; signals and the duration still end it.
            const auto until = Clock::now() + std::chrono::milliseconds(r.sleepMs);
            while (Clock::now() < until && !gSignalled && !expired())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (pending.size() > kMaxLine) {
            if (!discarding) std::fprintf(stderr, "nbtsim: command line longer than %zu bytes ignored\n", kMaxLine);
            discarding = true;
            pending.clear();
        }
    }
    sim.Stop();
    std::printf("%s\n", FormatStats(sim.Stats()).c_str());
    return 0;
}
