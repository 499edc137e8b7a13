// The monitoring engine under load: the whole engine (probe sender, reply receiver, host view on a
// message loop standing in for the UI thread) against the nbtsim program answering for 254,
// 4,094 and 65,534 hosts on 127.x addresses, with the default timer (3 s) and threshold (3).
//
// Per range and run it measures:
//   - the time from the start of the first pass until every host is Answering, and until every
//     host is Up, as the host view sees them;
//   - the replies lost per pass (simulator replies sent minus engine datagrams received);
//   - CPU time (user + sys) of the engine process per probe-and-reply over steady passes (after
//     every host is Up), beside the same figure for a bare loopback scanner at the same rate;
//   - the engine process's peak resident set (VmHWM);
//   - the time nbtscan takes to report every host of the same range from the same simulator.
//
// Every measured side runs in a process of its own: the engine and the bare scanner are this
// program re-run in a child role, and the simulator is a further child of each, so neither the
// simulator's work nor another run's memory is counted. Every wait is bounded in time; traffic
// stays on 127.0.0.0/8.

#include <arpa/inet.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bare_scanner.h"
#include "bench/load_support.h"
#include "engine/engine.h"
#include "engine/host_table.h"
#include "engine/host_view.h"
#include "engine/message_loop.h"
#include "platform/net.h"
#include "settings/app_settings.h"

namespace {

using namespace quorvane;
using namespace quorvane::bench;
using std::chrono::milliseconds;

constexpr uint32_t kPeriodMs = 3000;           // the default queryTimerSeconds
constexpr milliseconds kSampleDelay{2500};     // after a pass begins: its replies are all in
constexpr milliseconds kPassWait{15000};       // longest wait for the next pass to begin
constexpr uint32_t kExtraPassesForUp = 6;      // passes allowed beyond the fourth to reach Up
constexpr uint32_t kSimLifetimeSec = 600;      // a simulator left behind ends by itself
constexpr int kChildLimitMs = 300000;
constexpr int kNbtscanLimitMs = 60000;
constexpr uint32_t kNbtscanBandwidth = 10000000;  // bits per second, for ranges above a /24

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: engine_load [--runs N] [--hosts N[,N...]] [--steady-passes N] [--no-nbtscan]\n"
                 "                   [--nbtsim PATH] [--verbose]\n"
                 "  --runs N           runs per range; medians are reported (default 3)\n"
                 "  --hosts LIST       answering hosts per range, each 1..65534 (default 254,4094,65534);\n"
                 "                     range k is 127.(44+k).0.1 onwards\n"
                 "  --steady-passes N  passes after all hosts are Up over which CPU is measured (default 4)\n"
                 "  --no-nbtscan       skip the nbtscan comparison\n"
                 "  --nbtsim PATH      the simulator program (default: tools/nbtsim beside this build)\n"
                 "  --verbose          print every pass of every run\n"
                 "The nbtscan comparison needs root: nbtscan queries port 137, so the simulator must\n"
                 "listen there. Without root it is skipped. All traffic stays on 127.0.0.0/8.\n");
}

struct Sample {
    double atMs = 0;  // since the first pass began (negative before)
    uint64_t queries = 0;
    uint64_t datagrams = 0;
    nbtsim::SimulatorStats sim;
    double cpuUs = 0;  // CPU of the measured side so far, the bench's own sampling left out
    std::vector<ThreadTime> threads;
    uint64_t socketDrops = 0;  // the engine's probe socket, full receive queue
};

// CPU nanoseconds and voluntary switches of thread tid between two samples, per reply.
struct ThreadShare {
    double nsPerReply = 0;
    double switchesPerReply = 0;
};
ThreadShare Share(const Sample& a, const Sample& b, pid_t tid, uint64_t replies) {
    ThreadShare share;
    if (replies == 0) return share;
    const ThreadTime* x = nullptr;
    const ThreadTime* y = nullptr;
    for (const auto& t : a.threads) if (t.tid == tid) x = &t;
    for (const auto& t : b.threads) if (t.tid == tid) y = &t;
    if (!x || !y) return share;
    share.nsPerReply = static_cast<double>(y->runNs - x->runNs) / static_cast<double>(replies);
    share.switchesPerReply = static_cast<double>(y->voluntarySwitches - x->voluntarySwitches) / static_cast<double>(replies);
    return share;
}

void PrintPasses(const std::vector<Sample>& samples) {
    for (size_t k = 1; k < samples.size(); ++k) {
        const Sample& a = samples[k - 1];
        const Sample& b = samples[k];
        const auto simReplies = b.sim.repliesSent - a.sim.repliesSent;
        const auto received = b.datagrams - a.datagrams;
        std::printf("PASS %zu queries=%" PRIu64 " sim_queries=%" PRIu64 " sim_replies=%" PRIu64 " received=%" PRIu64
                    " lost=%" PRId64 " socket_drops=%" PRIu64 " sim_kernel_drops=%" PRIu64 " cpu_ms=%.1f\n",
                    k, b.queries - a.queries, b.sim.queriesReceived - a.sim.queriesReceived,
                    static_cast<uint64_t>(simReplies), static_cast<uint64_t>(received),
                    static_cast<int64_t>(simReplies - received), b.socketDrops - a.socketDrops,
                    b.sim.kernelDrops - a.sim.kernelDrops,
                    (b.cpuUs - a.cpuUs) / 1000.0);
    }
}

// ---- engine child --------------------------------------------------------------------------

class CountingList final : public HostListSink {
public:
    void AddHostRow(const HostEntry&) override { ++calls; }
    void DeleteHostRow(int) override { ++calls; }
    void SetRowImage(int, int) override { ++calls; }
    void RefreshNameCell(const HostEntry&, int) override { ++calls; }
    void SetHostCell(const HostEntry&, int, std::string_view) override { ++calls; }
    void RedrawFirstCell(int) override { ++calls; }
    uint64_t calls = 0;
};

class CountingEvents final : public EventSink {
public:
    void AddEvent(const MonitorEvent&) override { ++events; }
    uint64_t events = 0;
};

// What the host view sees, recorded on the loop thread; read by the bench under the mutex.
class Observer {
public:
    Observer(HostTable& table, uint32_t hosts) : table_(table), hosts_(hosts), answered_(kHostSlots), up_(kHostSlots) {}

    void Note(const EngineMessage& m) {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        switch (m.message) {
            case WM_PASSBEGIN:
                passBegins_.push_back(now);
                cv_.notify_all();
                return;
            case WM_PASSEND: ++passEnds_; return;
            case WM_HOSTFOUND:
            case WM_HOSTANSWERED:
                Mark(answered_, answeredCount_, allAnswering_, m.host, now);
                return;
            case WM_HOSTALIVE:
                Mark(up_, upCount_, allUp_, m.host, now);
                return;
            case WM_HOSTMISSED: ++missed_; return;
            case WM_HOSTDOWN: ++down_; return;
            default: return;
        }
    }

    // Waits until pass k (from 1) has begun; its start, or nullopt after the limit.
    std::optional<Clock::time_point> WaitPass(size_t k, milliseconds limit) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, limit, [&] { return passBegins_.size() >= k; })) return std::nullopt;
        return passBegins_[k - 1];
    }
    std::optional<Clock::time_point> allAnswering() const { std::lock_guard l(mutex_); return allAnswering_; }
    std::optional<Clock::time_point> allUp() const { std::lock_guard l(mutex_); return allUp_; }
    size_t passEnds() const { std::lock_guard l(mutex_); return passEnds_; }
    uint64_t missed() const { std::lock_guard l(mutex_); return missed_; }
    uint64_t down() const { std::lock_guard l(mutex_); return down_; }
    uint32_t answeredCount() const { std::lock_guard l(mutex_); return answeredCount_; }
    uint32_t upCount() const { std::lock_guard l(mutex_); return upCount_; }

private:
    void Mark(std::vector<bool>& seen, uint32_t& count, std::optional<Clock::time_point>& all, HostEntry* host,
              Clock::time_point now) {
        if (!host) return;
        const auto slot = static_cast<size_t>(host - &table_.slot(0));
        if (slot >= kHostSlots || seen[slot]) return;
        seen[slot] = true;
        if (++count == hosts_) all = now;
    }

    HostTable& table_;
    const uint32_t hosts_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Clock::time_point> passBegins_;  // guarded by mutex_, as is everything below
    std::vector<bool> answered_, up_;
    uint32_t answeredCount_ = 0, upCount_ = 0;
    std::optional<Clock::time_point> allAnswering_, allUp_;
    uint64_t missed_ = 0, down_ = 0;
    size_t passEnds_ = 0;
};

int EngineChild(uint32_t first, uint32_t hosts, uint32_t steadyPasses, const std::string& nbtsim) {
    SimProcess sim;
    std::string error;
    if (!sim.Start(nbtsim, first, hosts, 0, kSimLifetimeSec, &error)) {
        std::fprintf(stderr, "engine_load: %s\n", error.c_str());
        return 1;
    }
    const uint64_t hwmBefore = PeakRssKib();
    {
        AppSettings settings;  // default timer and threshold
        settings.probePort = 0;  // a free port: other programs may hold 6000
        IpSegment seg;
        seg.first = first;
        seg.end = htonl(ntohl(first) + hosts - 1);
        settings.segments = {seg};
        auto table = std::make_unique<HostTable>();
        if (table->ApplySegments(settings.segments, 0, 1) < 0) {
            std::fprintf(stderr, "engine_load: the range does not fit the host table\n");
            return 1;
        }
        CountingList list;
        CountingEvents events;
        table->BuildRows(list);
        Observer observer(*table, hosts);
        std::unique_ptr<HostView> view;
        MessageLoop loop([&](const EngineMessage& m) {
            const int64_t r = view->Handle(m);
            observer.Note(m);
            return r;
        });
        Engine::Options options;
        options.probeAddress = Ipv4(127, 0, 0, 1);
        options.nbnsPort = sim.port();
        auto engine = std::make_unique<Engine>(settings, *table, loop, options);
        view = std::make_unique<HostView>(*table, settings, list, events, engine->serviceStopped());
        loop.Start();

        auto sample = [&](Clock::time_point origin) -> std::optional<Sample> {
            Sample s;
            s.atMs = std::chrono::duration<double, std::milli>(Clock::now() - origin).count();
            s.queries = engine->queriesSent();
            s.datagrams = engine->datagramsReceived();
            s.threads = ThreadTimes();
            // Every thread but this one, which only samples.
            for (const auto& t : s.threads)
                if (t.tid != static_cast<pid_t>(getpid())) s.cpuUs += static_cast<double>(t.runNs) / 1000.0;
            s.socketDrops = UdpSocketDrops(options.probeAddress, engine->probeSocket().LocalPort()).value_or(0);
            const auto st = sim.Stats();
            if (!st) return std::nullopt;
            s.sim = *st;
            return s;
        };

        std::vector<Sample> samples;
        bool ok = true;
        if (auto s0 = sample(Clock::now())) samples.push_back(*s0); else ok = false;
        // The engine's threads are made in a fixed order: five notification workers, the
        // sender, the receiver; the loop thread and this one exist before.
        const auto before = ThreadTimes();
        if (ok && engine->Start() != 0) {
            std::fprintf(stderr, "engine_load: the probe socket could not be opened or bound\n");
            ok = false;
        }
        pid_t senderTid = 0, receiverTid = 0, loopTid = 0;
        {
            std::vector<pid_t> fresh;
            for (const auto& t : ThreadTimes()) {
                bool old = false;
                for (const auto& b : before) old = old || b.tid == t.tid;
                if (!old) fresh.push_back(t.tid);
            }
            if (fresh.size() == 7) {
                senderTid = fresh[5];
                receiverTid = fresh[6];
            }
            for (const auto& b : before)
                if (b.tid != static_cast<pid_t>(getpid())) loopTid = b.tid;
        }
        Clock::time_point origin{};
        size_t windowStart = 0;  // the sample that opens the steady window
        uint32_t overran = 0;     // passes not finished at their sample
        const uint32_t maxPasses = 4 + kExtraPassesForUp + steadyPasses;
        for (uint32_t k = 1; ok && k <= maxPasses; ++k) {
            const auto begin = observer.WaitPass(k, kPassWait);
            if (!begin) {
                std::fprintf(stderr, "engine_load: pass %u did not begin\n", k);
                ok = false;
                break;
            }
            if (k == 1) origin = *begin;
            std::this_thread::sleep_until(*begin + kSampleDelay);
            // A pass still running at its sample would smear its counts into the next one.
            if (observer.passEnds() < k) ++overran;
            auto s = sample(origin);
            if (!s) {
                std::fprintf(stderr, "engine_load: the simulator stopped answering\n");
                ok = false;
                break;
            }
            samples.push_back(*s);
            // Open the window at the first sample after every host is Up (its own pass is
            // whole behind it), and close it steadyPasses later.
            if (windowStart == 0 && observer.allUp()) windowStart = samples.size() - 1;
            if (windowStart != 0 && samples.size() - 1 - windowStart >= steadyPasses) break;
            if (windowStart == 0 && k >= 4 + kExtraPassesForUp) break;  // never all Up
        }
        const uint64_t missed = observer.missed();
        const uint64_t down = observer.down();
        const uint32_t answeredCount = observer.answeredCount();
        const uint32_t upCount = observer.upCount();
        const auto allAnswering = observer.allAnswering();
        const auto allUp = observer.allUp();
        engine.reset();  // while the loop still answers the sender
        loop.Quit();
        sim.Stop();
        if (!ok) return 1;

        PrintPasses(samples);
        int64_t lostTotal = 0, lostMax = 0;
        for (size_t k = 1; k < samples.size(); ++k) {
            const int64_t lost = static_cast<int64_t>(samples[k].sim.repliesSent - samples[k - 1].sim.repliesSent) -
                                 static_cast<int64_t>(samples[k].datagrams - samples[k - 1].datagrams);
            lostTotal += lost;
            lostMax = std::max(lostMax, lost);
        }
        auto since = [&](const std::optional<Clock::time_point>& t) {
            return t ? std::chrono::duration<double, std::milli>(*t - origin).count() : -1.0;
        };
        double cpuPerProbe = -1, steadyCpuMs = 0;
        uint64_t steadyReplies = 0;
        size_t steadyCount = 0;
        ThreadShare sender, receiver, loopShare;
        if (windowStart != 0 && samples.size() - 1 > windowStart) {
            const Sample& a = samples[windowStart];
            const Sample& b = samples.back();
            steadyReplies = b.datagrams - a.datagrams;
            steadyCount = samples.size() - 1 - windowStart;
            steadyCpuMs = (b.cpuUs - a.cpuUs) / 1000.0;
            if (steadyReplies) cpuPerProbe = (b.cpuUs - a.cpuUs) / static_cast<double>(steadyReplies);
            sender = Share(a, b, senderTid, steadyReplies);
            receiver = Share(a, b, receiverTid, steadyReplies);
            loopShare = Share(a, b, loopTid, steadyReplies);
        }
        std::printf("RESULT engine hosts=%u answered=%u up=%u answering_ms=%.1f up_ms=%.1f missed=%" PRIu64
                    " down=%" PRIu64 " passes=%zu lost_total=%" PRId64 " lost_max=%" PRId64
                    " steady_passes=%zu steady_replies=%" PRIu64 " steady_cpu_ms=%.1f cpu_per_probe_us=%.3f"
                    " hwm_kib=%" PRIu64 " hwm_before_kib=%" PRIu64 " list_calls=%" PRIu64 " events=%" PRIu64
                    " sender_ns=%.0f sender_switches=%.3f receiver_ns=%.0f receiver_switches=%.3f loop_ns=%.0f"
                    " overran=%u\n",
                    hosts, answeredCount, upCount, since(allAnswering), since(allUp), missed, down, samples.size() - 1,
                    lostTotal, lostMax, steadyCount, steadyReplies, steadyCpuMs, cpuPerProbe, PeakRssKib(), hwmBefore,
                    list.calls, events.events, sender.nsPerReply, sender.switchesPerReply, receiver.nsPerReply,
                    receiver.switchesPerReply, loopShare.nsPerReply, overran);
        std::fflush(stdout);
    }
    return 0;
}

// ---- bare scanner child ----------------------------------------------------------------------

int BareChild(uint32_t first, uint32_t hosts, uint32_t steadyPasses, const std::string& nbtsim) {
    SimProcess sim;
    std::string error;
    if (!sim.Start(nbtsim, first, hosts, 0, kSimLifetimeSec, &error)) {
        std::fprintf(stderr, "engine_load: %s\n", error.c_str());
        return 1;
    }
    BareScanner scanner(first, hosts, sim.port());
    if (!scanner.Open(&error)) {
        std::fprintf(stderr, "engine_load: bare scanner socket: %s\n", error.c_str());
        return 1;
    }
    std::vector<Sample> samples;
    std::vector<double> passMs;
    uint64_t queries = 0, replies = 0;
    uint64_t samplingUs = 0;  // CPU this thread spent sampling, not scanning
    auto sample = [&](Clock::time_point origin) -> bool {
        const uint64_t cpuBefore = ProcessCpuMicros();
        Sample s;
        s.atMs = std::chrono::duration<double, std::milli>(Clock::now() - origin).count();
        s.queries = queries;
        s.datagrams = replies;
        s.cpuUs = static_cast<double>(cpuBefore - samplingUs);
        s.threads = ThreadTimes();
        const auto st = sim.Stats();
        if (!st) return false;
        s.sim = *st;
        samples.push_back(s);
        samplingUs += ProcessCpuMicros() - cpuBefore;
        return true;
    };
    const auto origin = Clock::now();
    if (!sample(origin)) return 1;
    // One warm-up pass, then the steady ones, one every period as the engine's.
    for (uint32_t k = 0; k <= steadyPasses; ++k) {
        const auto begin = origin + milliseconds(kPeriodMs) * k;
        std::this_thread::sleep_until(begin);
        const auto pass = scanner.Run(milliseconds(2000));
        queries += pass.sent;
        replies += pass.replies;
        passMs.push_back(pass.ms);
        std::this_thread::sleep_until(begin + kSampleDelay);
        if (!sample(origin)) return 1;
    }
    sim.Stop();
    PrintPasses(samples);
    int64_t lostTotal = 0;
    for (size_t k = 1; k < samples.size(); ++k)
        lostTotal += static_cast<int64_t>(samples[k].sim.repliesSent - samples[k - 1].sim.repliesSent) -
                     static_cast<int64_t>(samples[k].datagrams - samples[k - 1].datagrams);
    const Sample& a = samples[1];
    const Sample& b = samples.back();
    const uint64_t steadyReplies = b.datagrams - a.datagrams;
    const double cpuPerProbe = steadyReplies ? (b.cpuUs - a.cpuUs) / static_cast<double>(steadyReplies) : -1.0;
    const ThreadShare self = Share(a, b, static_cast<pid_t>(getpid()), steadyReplies);
    std::printf("RESULT bare hosts=%u steady_passes=%u steady_replies=%" PRIu64 " steady_cpu_ms=%.1f"
                " cpu_per_probe_us=%.3f pass_ms=%.1f lost_total=%" PRId64 " hwm_kib=%" PRIu64
                " thread_ns=%.0f thread_switches=%.3f\n",
                hosts, steadyPasses, steadyReplies, (b.cpuUs - a.cpuUs) / 1000.0, cpuPerProbe, Median(passMs),
                lostTotal, PeakRssKib(), self.nsPerReply, self.switchesPerReply);
    std::fflush(stdout);
    return 0;
}

// ---- nbtscan ---------------------------------------------------------------------------------

struct NbtscanResult {
    bool ran = false;
    std::string note;
    uint32_t lines = 0;        // distinct hosts of the range reported
    double lastMs = -1;        // start to the last line of a host not reported before
    bool all = false;          // every host was reported
    double exitMs = -1;        // start to nbtscan's exit
    uint64_t simReplies = 0;   // replies the simulator sent (nbtscan's own socket may drop some)
};

NbtscanResult RunNbtscan(uint32_t first, uint32_t hosts, const std::string& nbtsim, const std::string& dir) {
    NbtscanResult r;
    const std::string listFile = dir + "/hosts-" + std::to_string(hosts);
    {
        FILE* f = std::fopen(listFile.c_str(), "w");
        if (!f) {
            r.note = "cannot write the address list";
            return r;
        }
        for (uint32_t i = 0; i < hosts; ++i) std::fprintf(f, "%s\n", FormatIpv4(htonl(ntohl(first) + i)).c_str());
        std::fclose(f);
    }
    SimProcess sim;
    std::string error;
    if (!sim.Start(nbtsim, first, hosts, kNbnsPort, kSimLifetimeSec, &error)) {
        r.note = "simulator on port 137: " + error;
        return r;
    }
    std::vector<std::string> argv = {"stdbuf", "-oL", "nbtscan", "-q", "-s", " "};
    if (hosts > 254) {
        argv.push_back("-b");
        argv.push_back(std::to_string(kNbtscanBandwidth));
    }
    argv.push_back("-f");
    argv.push_back(listFile);
    int out = -1;
    const auto start = Clock::now();
    const pid_t pid = Spawn(argv, nullptr, &out);
    if (pid < 0) {
        r.note = "cannot start nbtscan";
        return r;
    }
    r.ran = true;
    LineReader reader(out);
    std::vector<bool> seen(hosts);
    const auto deadline = start + milliseconds(kNbtscanLimitMs);
    while (auto line = reader.Next(deadline)) {
        const auto a = ParseIpv4(line->substr(0, line->find(' ')));
        if (!a) continue;
        const uint32_t i = ntohl(*a) - ntohl(first);
        if (i >= hosts || seen[i]) continue;
        seen[i] = true;
        r.lastMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        r.all = ++r.lines == hosts;
    }
    const int left = static_cast<int>(std::max<long long>(
        1, std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count()));
    int status = 0;
    if (WaitProcess(pid, left, &status))
        r.exitMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    else
        r.note = "nbtscan killed at the time limit";
    close(out);
    if (const auto st = sim.Stats()) r.simReplies = st->repliesSent;
    sim.Stop();
    return r;
}

// ---- parent ----------------------------------------------------------------------------------

using Fields = std::map<std::string, double>;

// "RESULT kind k=v k=v ..." -> fields of kind.
std::optional<Fields> ParseResult(const std::string& line, const std::string& kind) {
    const std::string head = "RESULT " + kind + " ";
    if (line.rfind(head, 0) != 0) return std::nullopt;
    Fields f;
    size_t i = head.size();
    while (i < line.size()) {
        const size_t end = std::min(line.find(' ', i), line.size());
        const std::string word = line.substr(i, end - i);
        const size_t eq = word.find('=');
        if (eq != std::string::npos) f[word.substr(0, eq)] = std::strtod(word.c_str() + eq + 1, nullptr);
        i = end + 1;
    }
    return f;
}

std::optional<Fields> RunChild(const std::string& role, uint32_t first, uint32_t hosts, uint32_t steady,
                               const std::string& nbtsim, bool verbose, std::vector<std::string>* passLines) {
    const std::vector<std::string> argv = {SelfPath(), "--child", role, "--first", FormatIpv4(first), "--count",
                                           std::to_string(hosts), "--steady-passes", std::to_string(steady),
                                           "--nbtsim", nbtsim};
    int out = -1;
    const pid_t pid = Spawn(argv, nullptr, &out);
    if (pid < 0) return std::nullopt;
    LineReader reader(out);
    std::optional<Fields> result;
    const auto deadline = Clock::now() + milliseconds(kChildLimitMs);
    while (auto line = reader.Next(deadline)) {
        if (verbose) std::printf("    %s %s\n", role.c_str(), line->c_str());
        if (line->rfind("PASS ", 0) == 0 && passLines) passLines->push_back(*line);
        if (auto f = ParseResult(*line, role)) result = f;
    }
    int status = 0;
    WaitProcess(pid, 10000, &status);
    close(out);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return result;
}

struct RangeRuns {
    uint32_t hosts = 0;
    std::vector<Fields> engine, bare;
    std::vector<NbtscanResult> nbtscan;
    std::vector<std::string> lostPerPass;  // per engine run: the lost count of each pass
    std::vector<double> cpuRatios;         // engine / bare of the same run (they ran back to back)
};

std::vector<double> Column(const std::vector<Fields>& runs, const std::string& key) {
    std::vector<double> v;
    for (const auto& f : runs)
        if (auto it = f.find(key); it != f.end()) v.push_back(it->second);
    return v;
}

std::string LostList(const std::vector<std::string>& passLines) {
    std::string out;
    for (const auto& l : passLines) {
        const size_t p = l.find(" lost=");
        if (p == std::string::npos) continue;
        if (!out.empty()) out += ",";
        out += l.substr(p + 6, l.find(' ', p + 6) - (p + 6));
    }
    return out;
}

std::string DefaultNbtsim() {
    // build/<preset>/bench/engine_load -> build/<preset>/tools/nbtsim
    const std::filesystem::path self = SelfPath();
    return (self.parent_path().parent_path() / "tools" / "nbtsim").string();
}

bool ParseCount(const char* text, uint32_t min, uint32_t max, uint32_t& out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno || end == text || *end || text[0] == '-' || v < min || v > max) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    uint32_t runs = 3, steady = 4;
    std::vector<uint32_t> sizes = {254, 4094, 65534};
    bool nbtscan = true, verbose = false;
    std::string nbtsim, role;
    uint32_t first = 0, count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            Usage(stdout);
            return 0;
        }
        if (opt == "--no-nbtscan") { nbtscan = false; continue; }
        if (opt == "--verbose") { verbose = true; continue; }
        if (i + 1 >= argc) {
            Usage(stderr);
            return 2;
        }
        const char* v = argv[++i];
        bool good = true;
        if (opt == "--runs") {
            good = ParseCount(v, 1, 100, runs);
        } else if (opt == "--steady-passes") {
            good = ParseCount(v, 1, 100, steady);
        } else if (opt == "--nbtsim") {
            nbtsim = v;
        } else if (opt == "--hosts") {
            sizes.clear();
            std::string list = v;
            for (size_t p = 0; good && p <= list.size();) {
                const size_t c = std::min(list.find(',', p), list.size());
                uint32_t n = 0;
                good = ParseCount(list.substr(p, c - p).c_str(), 1, 65534, n);
                sizes.push_back(n);
                p = c + 1;
            }
            good = good && !sizes.empty() && sizes.size() <= 16;
        } else if (opt == "--child") {
            role = v;
        } else if (opt == "--first") {
            const auto a = ParseIpv4(v);
            good = a && IsLoopback(*a);
            if (a) first = *a;
        } else if (opt == "--count") {
            good = ParseCount(v, 1, 65534, count);
        } else {
            good = false;
        }
        if (!good) {
            std::fprintf(stderr, "engine_load: bad option or value: %s %s\n", opt.c_str(), v);
            Usage(stderr);
            return 2;
        }
    }
    if (nbtsim.empty()) nbtsim = DefaultNbtsim();
    if (!role.empty()) {
        if (first == 0 || count == 0 || !IsLoopback(htonl(ntohl(first) + count - 1))) return 2;
        if (role == "engine") return EngineChild(first, count, steady, nbtsim);
        if (role == "bare") return BareChild(first, count, steady, nbtsim);
        return 2;
    }
    if (access(nbtsim.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "engine_load: no simulator at %s (build the nbtsim target or give --nbtsim)\n",
                     nbtsim.c_str());
        return 1;
    }
    std::string nbtscanNote;
    if (nbtscan && geteuid() != 0) {
        nbtscanNote = "skipped: needs root to let the simulator listen on port 137";
        nbtscan = false;
    } else if (nbtscan && std::system("command -v nbtscan >/dev/null 2>&1 && command -v stdbuf >/dev/null 2>&1") != 0) {
        nbtscanNote = "skipped: nbtscan or stdbuf not installed";
        nbtscan = false;
    }
    std::string dir = (std::filesystem::temp_directory_path() / "quorvane-engine-load-XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        std::perror("engine_load: mkdtemp");
        return 1;
    }

    std::printf("engine_load: %u run(s) per range, period %u ms, threshold 3, %u steady passes\n", runs, kPeriodMs,
                steady);
    std::vector<RangeRuns> results;
    for (size_t s = 0; s < sizes.size(); ++s) {
        RangeRuns r;
        r.hosts = sizes[s];
        results.push_back(std::move(r));
    }
    bool failed = false;
    for (uint32_t run = 1; run <= runs; ++run) {
        for (size_t s = 0; s < sizes.size(); ++s) {
            RangeRuns& rr = results[s];
            const uint32_t first = Ipv4(127, static_cast<uint8_t>(44 + s), 0, 1);
            std::vector<std::string> passLines;
            auto e = RunChild("engine", first, rr.hosts, steady, nbtsim, verbose, &passLines);
            if (e) {
                rr.engine.push_back(*e);
                rr.lostPerPass.push_back(LostList(passLines));
                std::printf("run %u hosts %5u engine: answering %.0f ms, up %.0f ms, lost per pass [%s], missed %.0f, "
                            "%.3f us/probe, VmHWM %.1f MiB\n",
                            run, rr.hosts, (*e)["answering_ms"], (*e)["up_ms"], rr.lostPerPass.back().c_str(),
                            (*e)["missed"], (*e)["cpu_per_probe_us"], (*e)["hwm_kib"] / 1024.0);
            } else {
                std::printf("run %u hosts %5u engine: FAILED\n", run, rr.hosts);
                failed = true;
            }
            auto b = RunChild("bare", first, rr.hosts, steady, nbtsim, verbose, nullptr);
            if (b) {
                rr.bare.push_back(*b);
                if (e && (*e)["cpu_per_probe_us"] > 0 && (*b)["cpu_per_probe_us"] > 0)
                    rr.cpuRatios.push_back((*e)["cpu_per_probe_us"] / (*b)["cpu_per_probe_us"]);
                std::printf("run %u hosts %5u bare:   %.3f us/probe, pass %.0f ms, lost %.0f\n", run, rr.hosts,
                            (*b)["cpu_per_probe_us"], (*b)["pass_ms"], (*b)["lost_total"]);
            } else {
                std::printf("run %u hosts %5u bare: FAILED\n", run, rr.hosts);
                failed = true;
            }
            if (nbtscan) {
                const NbtscanResult n = RunNbtscan(first, rr.hosts, nbtsim, dir);
                rr.nbtscan.push_back(n);
                std::printf("run %u hosts %5u nbtscan: %u reported (simulator sent %" PRIu64 " replies), last at %.0f ms, "
                            "exit %.0f ms%s%s\n",
                            run, rr.hosts, n.lines, n.simReplies, n.lastMs, n.exitMs, n.note.empty() ? "" : " - ",
                            n.note.c_str());
            }
            std::fflush(stdout);
        }
    }
    std::filesystem::remove_all(dir);

    auto maxOf = [](const std::vector<double>& v) { return v.empty() ? -1.0 : *std::max_element(v.begin(), v.end()); };
    auto sumOf = [](const std::vector<double>& v) {
        double t = 0;
        for (double x : v) t += x;
        return t;
    };
    std::printf("\nMedians of %u run(s); [max] where the worst run matters. Answering and Up: from the start of "
                "the first pass\nto the last host, as the host view sees it. Lost: simulator replies sent minus "
                "engine datagrams received.\n",
                runs);
    std::printf("%6s %12s %16s %9s %10s %10s %7s %15s\n", "hosts", "passes/run", "answering ms", "up ms",
                "lost/pass", "lost all", "missed", "VmHWM MiB");
    for (const RangeRuns& rr : results) {
        const auto answering = Column(rr.engine, "answering_ms");
        const auto hwm = Column(rr.engine, "hwm_kib");
        std::printf("%6u %12.0f %8.1f [%5.1f] %9.1f %10.0f %10.0f %7.0f %7.1f [%5.1f]\n", rr.hosts,
                    Median(Column(rr.engine, "passes")), Median(answering), maxOf(answering),
                    Median(Column(rr.engine, "up_ms")), maxOf(Column(rr.engine, "lost_max")),
                    sumOf(Column(rr.engine, "lost_total")), sumOf(Column(rr.engine, "missed")), Median(hwm) / 1024.0,
                    maxOf(hwm) / 1024.0);
    }
    std::printf("\nCPU (user + sys) per probe-and-reply over %u steady passes, one pass every %u ms; engine = all its "
                "threads\n(sender, receiver, host view loop), the bench's sampling left out. ratio: of the medians; per run: median\n"
                "[max] of engine/bare in the same run, the two measured back to back.\n",
                steady, kPeriodMs);
    std::printf("%6s %12s %10s %10s %10s %12s %9s %14s\n", "hosts", "engine us", "sender", "receiver", "view loop",
                "bare us", "ratio", "ratio per run");
    for (const RangeRuns& rr : results) {
        const double engineCpu = Median(Column(rr.engine, "cpu_per_probe_us"));
        const double bareCpu = Median(Column(rr.bare, "cpu_per_probe_us"));
        std::printf("%6u %12.3f %10.3f %10.3f %10.3f %12.3f %9.2f %7.2f [%4.2f]\n", rr.hosts, engineCpu,
                    Median(Column(rr.engine, "sender_ns")) / 1000.0, Median(Column(rr.engine, "receiver_ns")) / 1000.0,
                    Median(Column(rr.engine, "loop_ns")) / 1000.0, bareCpu, bareCpu > 0 ? engineCpu / bareCpu : -1,
                    Median(rr.cpuRatios), maxOf(rr.cpuRatios));
    }
    if (nbtscan) {
        std::printf("\nnbtscan against the same simulator on port 137 (-b %u above 254 hosts): hosts reported, time "
                    "to the last\nhost reported, time to exit; ratio = engine time to every host Answering / nbtscan "
                    "time to its last host.\n",
                    kNbtscanBandwidth);
        std::printf("%6s %10s %12s %10s %10s %9s\n", "hosts", "reported", "runs all", "last ms", "exit ms", "ratio");
        for (const RangeRuns& rr : results) {
            std::vector<double> last, exitMs, lines;
            int all = 0;
            for (const auto& n : rr.nbtscan) {
                if (n.lastMs >= 0) last.push_back(n.lastMs);
                if (n.exitMs >= 0) exitMs.push_back(n.exitMs);
                lines.push_back(n.lines);
                all += n.all;
            }
            const double scan = last.empty() ? -1 : Median(last);
            const double answering = Median(Column(rr.engine, "answering_ms"));
            std::printf("%6u %10.0f %8d of %u %10.1f %10.1f %9.3f\n", rr.hosts, Median(lines), all,
                        static_cast<unsigned>(rr.nbtscan.size()), scan, exitMs.empty() ? -1 : Median(exitMs),
                        scan > 0 && answering >= 0 ? answering / scan : -1);
        }
    } else if (!nbtscanNote.empty()) {
        std::printf("\nnbtscan %s\n", nbtscanNote.c_str());
    }

    // The targets: the largest range Answering within 1 s with nothing lost; CPU at most 1.2 times
    // the bare scanner's; the engine's peak resident set under 64 MiB.
    std::printf("\nTargets (worst run for time and loss, medians for CPU):\n");
    for (const RangeRuns& rr : results) {
        const double worstAnswering = maxOf(Column(rr.engine, "answering_ms"));
        const double lost = sumOf(Column(rr.engine, "lost_total"));
        const double ratio = Median(Column(rr.engine, "cpu_per_probe_us")) /
                             std::max(1e-9, Median(Column(rr.bare, "cpu_per_probe_us")));
        const double hwm = maxOf(Column(rr.engine, "hwm_kib")) / 1024.0;
        std::printf("  %5u hosts: answering within 1 s %s (%.0f ms), no reply lost %s (%.0f), CPU ratio <= 1.2 %s "
                    "(%.2f), VmHWM < 64 MiB %s (%.1f)\n",
                    rr.hosts, worstAnswering >= 0 && worstAnswering < 1000 ? "met" : "MISSED", worstAnswering,
                    lost == 0 && !rr.engine.empty() ? "met" : "MISSED", lost, ratio <= 1.2 ? "met" : "MISSED", ratio,
                    hwm >= 0 && hwm < 64 ? "met" : "MISSED", hwm);
    }
    return failed ? 1 : 0;
}
