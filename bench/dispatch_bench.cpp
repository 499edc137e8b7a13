// Events per second through DispatchEvent with the default templates: the log channel writing to a
// file in a temporary folder and the syslog channel sending to two loopback servers, whose
// sockets a thread drains.
#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "channels/syslog_channel.h"
#include "engine/startup.h"
#include "engine/vendor_table.h"
#include "notify/dispatcher.h"
#include "notify/log_channel.h"

namespace {

using namespace quorvane;

void PutName(NameField& field, const char* name) {
    field.fill(0);
    std::memset(field.data(), ' ', 15);
    std::memcpy(field.data(), name, std::strlen(name));
}

// Two receivers on 127.0.0.1 and 127.0.0.2 sharing a port, emptied by a thread. Real syslog
// servers sit on other machines; a receiver woken for every datagram would charge the sender a
// thread wake-up per send that no real server costs it, so the thread reads in batches between
// short sleeps (the 1 MiB buffers hold far more than arrives meanwhile).
class DrainedServers {
public:
    DrainedServers() {
        for (int attempt = 0; attempt < 20 && port_ == 0; ++attempt) {
            a_ = UdpSocket();
            b_ = UdpSocket();
            if (!a_.Open() || !a_.Bind(Ipv4(127, 0, 0, 1), 0)) continue;
            if (b_.Open() && b_.Bind(Ipv4(127, 0, 0, 2), a_.LocalPort())) port_ = a_.LocalPort();
        }
        a_.SetBufferSizes(1 << 20, 1 << 20);
        b_.SetBufferSizes(1 << 20, 1 << 20);
        drain_ = std::thread([this] { Drain(); });
    }
    ~DrainedServers() {
        stop_ = true;
        drain_.join();
    }
    uint16_t port() const { return port_; }
    uint64_t received() const { return received_; }

private:
    void Drain() {
        constexpr unsigned kBatch = 64;
        std::vector<uint8_t> buf(size_t{kBatch} * 4096);
        mmsghdr msgs[kBatch];
        iovec iov[kBatch];
        while (!stop_) {
            for (UdpSocket* s : {&a_, &b_}) {
                for (int round = 0; round < 1000; ++round) {
                    for (unsigned i = 0; i < kBatch; ++i) {
                        iov[i] = {buf.data() + i * 4096, 4096};
                        msgs[i] = {};
                        msgs[i].msg_hdr.msg_iov = &iov[i];
                        msgs[i].msg_hdr.msg_iovlen = 1;
                    }
                    const int n = recvmmsg(s->fd(), msgs, kBatch, MSG_DONTWAIT, nullptr);
                    if (n <= 0) break;
                    received_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    UdpSocket a_, b_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> received_{0};
    std::thread drain_;
};

void BM_DispatchEvent(benchmark::State& state) {
    std::string dirTemplate = (std::filesystem::temp_directory_path() / "quorvane-dispatch-XXXXXX").string();
    if (!mkdtemp(dirTemplate.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::filesystem::path dir = dirTemplate;
    DrainedServers servers;
    if (servers.port() == 0) {
        state.SkipWithError("no loopback port");
        return;
    }

    AppSettings settings;  // fresh: every channel on for down events, default templates
    settings.logFile = (dir / "quorvane.log").string();
    settings.syslogServers = {{Ipv4(127, 0, 0, 1), 0}, {Ipv4(127, 0, 0, 2), 0}};
    UdpSocket socket = OpenNotifySocket();
    SyslogChannel syslog(settings, socket, servers.port());
    LogFileChannel log(settings);
    log.OpenLog();
    Dispatcher dispatcher(settings, {.syslog = &syslog, .log = &log});

    auto host = std::make_unique<HostEntry>();
    std::strcpy(host->ipText, "192.168.1.5");
    PutName(host->hostName, "PC1");
    PutName(host->groupName, "WORKGROUP");
    PutName(host->userName, "ALICE");
    host->mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    host->firstFoundTime = 1700000000;
    host->startupTime = 1700000060;
    host->shutdownTime = 1700000120;
    char timeText[kEventTimeTextSize];
    FormatEventTime(1700000120, timeText);
    std::string text = "Host is down of PC1            ";

    uint64_t events = 0;
    for (auto _ : state) {
        dispatcher.DispatchEvent(*host, text, timeText, EventKind::Down);
        if ((++events & 0xFFFF) == 0) {  // keep the file small; the stream appends at the new end
            state.PauseTiming();
            log.Flush();
            std::filesystem::resize_file(settings.logFile, 0);
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(events));
    // A server that dropped datagrams would make sending look cheaper than it is: show what arrived.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (events) state.counters["received"] = static_cast<double>(servers.received()) / (2.0 * static_cast<double>(events));
    log.CloseLog();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_DispatchEvent)->UseRealTime();

// The floor of the figure above: the two datagrams alone, of the length a default down event's
// syslog message has, sent to the same drained servers without expansion or log line.
void BM_TwoSyslogSendsOnly(benchmark::State& state) {
    DrainedServers servers;
    if (servers.port() == 0) {
        state.SkipWithError("no loopback port");
        return;
    }
    UdpSocket socket = OpenNotifySocket();
    const std::string payload = "<85>1:  Host is down of PC1             (192.168.1.5) at Tue, 2023-11-14 22:16:00";
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    for (auto _ : state) {
        socket.SendTo(bytes, {Ipv4(127, 0, 0, 1), servers.port()});
        socket.SendTo(bytes, {Ipv4(127, 0, 0, 2), servers.port()});
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TwoSyslogSendsOnly)->UseRealTime();

// One expansion of the default log template, for comparison.
void BM_ExpandLogTemplate(benchmark::State& state) {
    AppSettings settings;
    auto host = std::make_unique<HostEntry>();
    std::strcpy(host->ipText, "192.168.1.5");
    PutName(host->hostName, "PC1");
    const std::string text = "Host is down of PC1            ";
    for (auto _ : state) {
        MacroContext context(*host, "Tue, 2023-11-14 22:15:20", settings);
        context.ExpandLog(*host, text);
        benchmark::DoNotOptimize(context.logLine.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExpandLogTemplate);

}  // namespace
