// The NBT simulator under the load of a full probe pass: a query to each of 65,534 hosts
// (127.1.0.1 to 127.1.255.254) sent back to back from one socket, every reply awaited. The
// iteration time is from the first query to the last reply; loopback only.

#include <arpa/inet.h>
#include <sys/socket.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "engine/nbt_codec.h"
#include "platform/net.h"
#include "tools/nbtsim/nbt_simulator.h"

namespace {

using namespace quorvane;
using namespace quorvane::nbtsim;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kFirst = Ipv4(127, 1, 0, 1);
constexpr uint32_t kHosts = 65534;
constexpr unsigned kBatch = 64;
constexpr auto kPassLimit = std::chrono::seconds(10);

void Raise(int fd, int opt, int force, int bytes) {
    if (setsockopt(fd, SOL_SOCKET, force, &bytes, sizeof bytes) != 0) setsockopt(fd, SOL_SOCKET, opt, &bytes, sizeof bytes);
}

// Counts distinct replies until all arrived, the pass limit passed or stop was set.
uint32_t ReceiveAll(int fd, std::atomic<bool>& stop, Clock::time_point& last) {
    std::vector<bool> seen(kHosts);
    uint32_t distinct = 0;
    std::array<std::array<uint8_t, 1600>, kBatch> bufs;
    std::array<iovec, kBatch> iov;
    std::array<mmsghdr, kBatch> msgs;
    const auto deadline = Clock::now() + kPassLimit;
    while (distinct < kHosts && !stop.load() && Clock::now() < deadline) {
        for (unsigned i = 0; i < kBatch; ++i) {
            iov[i] = {bufs[i].data(), bufs[i].size()};
            msgs[i].msg_hdr = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        timespec wait{0, 100 * 1000 * 1000};
        const int n = recvmmsg(fd, msgs.data(), kBatch, MSG_WAITFORONE, &wait);
        if (n <= 0) continue;
        for (int i = 0; i < n; ++i) {
            const auto tid = ReplyTransactionId(std::span(bufs[i].data(), msgs[i].msg_len));
            if (tid && *tid < kHosts && !seen[*tid]) {
                seen[*tid] = true;
                ++distinct;
            }
        }
        last = Clock::now();
    }
    return distinct;
}

void BM_NbtSimFullPass(benchmark::State& state) {
    NbtSimulator sim({.port = 0});
    sim.AddHosts(kFirst, kHosts);
    if (!sim.Start()) {
        state.SkipWithError(sim.error().c_str());
        return;
    }
    UdpSocket client;
    client.Open();
    client.Bind(Ipv4(127, 0, 0, 1), 0);
    Raise(client.fd(), SO_RCVBUF, SO_RCVBUFFORCE, 128 << 20);
    Raise(client.fd(), SO_SNDBUF, SO_SNDBUFFORCE, 8 << 20);
    const timeval rcvLimit{0, 100000};
    setsockopt(client.fd(), SOL_SOCKET, SO_RCVTIMEO, &rcvLimit, sizeof rcvLimit);

    // Every query built up front; the sender only hands them to the kernel.
    std::vector<QueryDatagram> queries(kHosts);
    std::vector<sockaddr_in> to(kHosts);
    for (uint32_t i = 0; i < kHosts; ++i) {
        BuildNodeStatusQuery(queries[i]);
        StampQuery(queries[i], static_cast<uint16_t>(i));
        to[i] = {};
        to[i].sin_family = AF_INET;
        to[i].sin_port = htons(sim.port());
        to[i].sin_addr.s_addr = htonl(ntohl(kFirst) + i);
    }
    std::vector<iovec> iov(kHosts);
    std::vector<mmsghdr> msgs(kHosts);
    for (uint32_t i = 0; i < kHosts; ++i) {
        iov[i] = {queries[i].data(), queries[i].size()};
        msgs[i].msg_hdr = {};
        msgs[i].msg_hdr.msg_name = &to[i];
        msgs[i].msg_hdr.msg_namelen = sizeof to[i];
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }

    uint64_t lost = 0;
    for (auto _ : state) {
        std::atomic<bool> stop{false};
        uint32_t got = 0;
        Clock::time_point last;
        const auto start = Clock::now();
        std::thread receiver([&] { got = ReceiveAll(client.fd(), stop, last); });
        for (uint32_t i = 0; i < kHosts;) {
            const int n = sendmmsg(client.fd(), &msgs[i], std::min(kBatch, kHosts - i), 0);
            if (n <= 0) break;
            i += static_cast<uint32_t>(n);
        }
        receiver.join();
        lost += kHosts - got;
        state.SetIterationTime(std::chrono::duration<double>((got ? last : Clock::now()) - start).count());
    }
    const SimulatorStats s = sim.Stats();
    sim.Stop();
    state.counters["replies_per_s"] =
        benchmark::Counter(static_cast<double>(kHosts), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["lost"] = static_cast<double>(lost);
    state.counters["kernel_drops"] = static_cast<double>(s.kernelDrops);
    state.counters["send_errors"] = static_cast<double>(s.sendErrors);
}
BENCHMARK(BM_NbtSimFullPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);

// The per-reply work of the worker: copying the template and stamping the transaction id.
void BM_ComposeReply(benchmark::State& state) {
    const std::vector<uint8_t> response = BuildNodeStatusResponse(DefaultProfile(kFirst));
    std::array<uint8_t, kMaxComposedLength> out{};
    uint64_t rng = 1;
    const uint8_t tid[2] = {1, 2};
    for (auto _ : state) benchmark::DoNotOptimize(ComposeReply(response, tid, Malform::None, rng, out));
}
BENCHMARK(BM_ComposeReply);

}  // namespace
