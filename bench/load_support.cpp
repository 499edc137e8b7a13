#include "bench/load_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/net.h"

extern char** environ;

namespace quorvane::bench {

std::optional<std::string> LineReader::Next(Clock::time_point deadline) {
    for (;;) {
        const size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return line;
        }
        if (eof_ || fd_ < 0) return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (r < 0 && errno != EINTR) return std::nullopt;
        if (r <= 0) continue;
        char buf[4096];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            eof_ = true;
            if (pending_.empty()) return std::nullopt;
            std::string line;
            line.swap(pending_);
            return line;
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
}

pid_t Spawn(const std::vector<std::string>& argv, int* stdinWrite, int* stdoutRead) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (stdinWrite && pipe2(in, O_CLOEXEC) != 0) return -1;
    if (stdoutRead && pipe2(out, O_CLOEXEC) != 0) {
        if (stdinWrite) close(in[0]), close(in[1]);
        return -1;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (stdinWrite) posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    if (stdoutRead) posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (stdinWrite) close(in[0]);
    if (stdoutRead) close(out[1]);
    if (rc != 0) {
        if (stdinWrite) close(in[1]);
        if (stdoutRead) close(out[0]);
        return -1;
    }
    if (stdinWrite) *stdinWrite = in[1];
    if (stdoutRead) *stdoutRead = out[0];
    return pid;
}

bool WaitProcess(pid_t pid, int timeoutMs, int* status) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int st = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) {
            if (status) *status = st;
            return true;
        }
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int s = StopProcess(pid, 1000);
    if (status) *status = s;
    return false;
}

int StopProcess(pid_t pid, int graceMs) {
    if (pid <= 0) return 0;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    int st = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) return st;
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    return st;
}

bool SimProcess::Start(const std::string& program, uint32_t first, uint32_t count, uint16_t port,
                       uint32_t lifetimeSec, std::string* error) {
    Stop();
    const std::string range = FormatIpv4(first) + "/" + std::to_string(count);
    pid_ = Spawn({program, "--hosts", range, "--port", std::to_string(port), "--duration", std::to_string(lifetimeSec)},
                 &in_, &out_);
    if (pid_ < 0) {
        if (error) *error = "cannot start " + program;
        return false;
    }
    reader_.Reset(out_);
    // "nbtsim: N hosts on port P (receive buffer B bytes)"
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (auto line = reader_.Next(deadline)) {
        unsigned hosts = 0, p = 0;
        if (std::sscanf(line->c_str(), "nbtsim: %u hosts on port %u", &hosts, &p) == 2) {
            port_ = static_cast<uint16_t>(p);
            if (hosts == count && p != 0) return true;
            break;
        }
    }
    if (error) *error = "the simulator did not start (is the port taken?)";
    Stop();
    return false;
}

std::optional<nbtsim::SimulatorStats> SimProcess::Stats(int timeoutMs) {
    if (pid_ < 0) return std::nullopt;
    static constexpr char kCommand[] = "stats\n";
    if (write(in_, kCommand, sizeof kCommand - 1) != static_cast<ssize_t>(sizeof kCommand - 1)) return std::nullopt;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (auto line = reader_.Next(deadline)) {
        nbtsim::SimulatorStats s;
        unsigned long long v[8];
        if (std::sscanf(line->c_str(),
                        "datagrams %llu queries %llu ignored %llu replies %llu send-errors %llu late-pending %llu "
                        "late-dropped %llu kernel-drops %llu",
                        &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]) == 8) {
            s.datagramsReceived = v[0];
            s.queriesReceived = v[1];
            s.ignored = v[2];
            s.repliesSent = v[3];
            s.sendErrors = v[4];
            s.lateReplyPending = v[5];
            s.lateReplyDropped = v[6];
            s.kernelDrops = v[7];
            return s;
        }
    }
    return std::nullopt;
}

void SimProcess::Stop() {
    if (in_ >= 0) close(in_);
    in_ = -1;
    if (pid_ > 0) StopProcess(pid_, 3000);
    pid_ = -1;
    if (out_ >= 0) close(out_);
    out_ = -1;
    reader_.Reset(-1);
}

uint64_t ProcessCpuMicros() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto us = [](const timeval& t) { return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_usec); };
    return us(u.ru_utime) + us(u.ru_stime);
}

uint64_t PeakRssKib() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    unsigned long long kib = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %llu kB", &kib) == 1) break;
    std::fclose(f);
    return kib;
}

std::vector<ThreadTime> ThreadTimes() {
    std::vector<ThreadTime> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        ThreadTime t;
        t.tid = static_cast<pid_t>(std::strtol(entry.path().filename().c_str(), nullptr, 10));
        if (FILE* f = std::fopen((entry.path() / "schedstat").c_str(), "r")) {
            unsigned long long ns = 0;
            if (std::fscanf(f, "%llu", &ns) == 1) t.runNs = ns;
            std::fclose(f);
        }
        if (FILE* f = std::fopen((entry.path() / "status").c_str(), "r")) {
            char line[256];
            unsigned long long n = 0;
            while (std::fgets(line, sizeof line, f))
                if (std::sscanf(line, "voluntary_ctxt_switches: %llu", &n) == 1) t.voluntarySwitches = n;
            std::fclose(f);
        }
        out.push_back(t);
    }
    std::sort(out.begin(), out.end(), [](const ThreadTime& a, const ThreadTime& b) { return a.tid < b.tid; });
    return out;
}

std::optional<uint64_t> UdpSocketDrops(uint32_t address, uint16_t port) {
    FILE* f = std::fopen("/proc/net/udp", "r");
    if (!f) return std::nullopt;
    char line[512];
    std::optional<uint64_t> drops;
    // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode ref pointer drops
    while (!drops && std::fgets(line, sizeof line, f)) {
        unsigned sl = 0, localAddr = 0, localPort = 0;
        unsigned long long d = 0;
        char rest[16][64];
        if (std::sscanf(line, " %u: %8X:%4X %63s %63s %63s %63s %63s %63s %63s %63s %63s %63s %llu", &sl, &localAddr,
                        &localPort, rest[0], rest[1], rest[2], rest[3], rest[4], rest[5], rest[6], rest[7], rest[8],
                        rest[9], &d) == 14 &&
            localAddr == address && localPort == port)
            drops = d;
    }
    std::fclose(f);
    return drops;
}

std::string SelfPath() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

}  // namespace quorvane::bench
