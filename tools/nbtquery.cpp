// nbtquery: sends one node status query to ADDRESS:137 and writes the reply's bytes to a file.
//
//   nbtquery [--timeout-ms N] [--transaction-id N] ADDRESS OUTFILE
//
// The query is the program's own (BuildNodeStatusQuery). Only a datagram from ADDRESS:137 that
// passes the reply acceptance checks and carries our transaction id is written. Lab tool: it
// refuses addresses outside the loopback range and the 10.231.0.0/16 test network, so it never
// probes a real LAN. Exit status: 0 reply written, 1 no reply in time, 2 usage or system error.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/nbt_codec.h"
#include "platform/net.h"
#include "platform/tick.h"

namespace {

using namespace quorvane;

int Usage() {
    std::fprintf(stderr, "usage: nbtquery [--timeout-ms N] [--transaction-id N] ADDRESS OUTFILE\n");
    return 2;
}

bool ParseNumber(const char* text, unsigned long max, unsigned long& out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v > max) return false;
    out = v;
    return true;
}

bool IsLabAddress(uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
    return b[0] == 127 || (b[0] == 10 && b[1] == 231);
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long timeoutMs = 2000;
    unsigned long transactionId = 0x0102;
    std::vector<const char*> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--timeout-ms" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 60000, timeoutMs)) return Usage();
        } else if (arg == "--transaction-id" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 0xFFFF, transactionId)) return Usage();
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage();
        } else {
            positional.push_back(argv[i]);
        }
    }
    if (positional.size() != 2) return Usage();
    const auto address = ParseIpv4(positional[0]);
    if (!address) {
        std::fprintf(stderr, "nbtquery: not an IPv4 address: %s\n", positional[0]);
        return 2;
    }
    if (!IsLabAddress(*address)) {
        std::fprintf(stderr, "nbtquery: %s is outside 127.0.0.0/8 and 10.231.0.0/16; refused\n", positional[0]);
        return 2;
    }

    UdpSocket socket;
    if (!socket.Open() || !socket.Bind(0, 0)) {
        std::fprintf(stderr, "nbtquery: cannot open a UDP socket: %s\n", std::strerror(errno));
        return 2;
    }
    QueryDatagram query;
    BuildNodeStatusQuery(query);
    StampQuery(query, static_cast<uint16_t>(transactionId));
    const Endpoint peer{*address, kNbnsPort};
    if (socket.SendTo(query, peer) != static_cast<long>(query.size())) {
        std::fprintf(stderr, "nbtquery: send failed: %s\n", std::strerror(errno));
        return 2;
    }

    // Strays (other sources, foreign ids, non-replies) do not extend the wait.
    const uint32_t start = GetTickCount();
    std::vector<uint8_t> buffer(kMaxDatagram);
    for (;;) {
        const uint32_t elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) break;
        Endpoint from;
        const long n = socket.ReceiveFromWithin(buffer, &from, static_cast<uint32_t>(timeoutMs - elapsed));
        if (n < 0) continue;
        const std::span<const uint8_t> reply(buffer.data(), static_cast<size_t>(n));
        if (!(from == peer) || !AcceptNodeStatusReply(reply) || ReplyTransactionId(reply) != transactionId) continue;
        std::FILE* f = std::fopen(positional[1], "wb");
        if (!f) {
            std::fprintf(stderr, "nbtquery: cannot write %s: %s\n", positional[1], std::strerror(errno));
            return 2;
        }
        const bool written = std::fwrite(reply.data(), 1, reply.size(), f) == reply.size();
        if (std::fclose(f) != 0 || !written) {
            std::fprintf(stderr, "nbtquery: cannot write %s\n", positional[1]);
            return 2;
        }
        return 0;
    }
    std::fprintf(stderr, "nbtquery: no reply from %s within %lu ms\n", positional[0], timeoutMs);
    return 1;
}
