#pragma once
// Pieces shared by the load benchmark's processes: the nbtsim program run as a child process and
// steered through its standard input, lines read from a pipe with a time limit, and the figures
// of the running process (CPU time, peak resident set).

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/nbtsim/nbt_simulator.h"

namespace quorvane::bench {

using Clock = std::chrono::steady_clock;

// Lines from a file descriptor, each wait bounded.
class LineReader {
public:
    explicit LineReader(int fd = -1) : fd_(fd) {}
    void Reset(int fd) {
        fd_ = fd;
        pending_.clear();
        eof_ = false;
    }
    // The next line without its newline; nullopt at end of file or when deadline passes first.
    std::optional<std::string> Next(Clock::time_point deadline);
    bool eof() const { return eof_; }

private:
    int fd_;
    std::string pending_;
    bool eof_ = false;
};

// Starts argv[0] with argv, its standard input and output on pipes (-1 to inherit) and standard
// error inherited. Returns the pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, int* stdinWrite, int* stdoutRead);
// SIGTERM to pid, up to graceMs for it to end, then SIGKILL. Reaps it; returns its wait status.
int StopProcess(pid_t pid, int graceMs);
// Waits up to timeoutMs for pid to end on its own (then kills it as StopProcess). True if it ended.
bool WaitProcess(pid_t pid, int timeoutMs, int* status);

// The nbtsim program answering for count consecutive addresses from first.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess() { Stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // port 0: a free port, see port(). The simulator also ends by itself after lifetimeSec.
    bool Start(const std::string& program, uint32_t first, uint32_t count, uint16_t port, uint32_t lifetimeSec,
               std::string* error);
    uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    // Asks for the counters; nullopt when the simulator does not answer within timeoutMs.
    std::optional<nbtsim::SimulatorStats> Stats(int timeoutMs = 2000);
    void Stop();

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    LineReader reader_;
    uint16_t port_ = 0;
};

// User plus system CPU time of the whole process, in microseconds.
uint64_t ProcessCpuMicros();
// VmHWM (peak resident set) of the process in KiB, 0 if unknown.
uint64_t PeakRssKib();

// Per thread of this process: time on a CPU (schedstat) and voluntary context switches.
struct ThreadTime {
    pid_t tid = 0;
    uint64_t runNs = 0;
    uint64_t voluntarySwitches = 0;
};
std::vector<ThreadTime> ThreadTimes();  // sorted by tid

// Datagrams the kernel dropped for a full receive queue on the UDP socket bound to
// address:port (network order address, host order port), from /proc/net/udp; nullopt if not found.
std::optional<uint64_t> UdpSocketDrops(uint32_t address, uint16_t port);

// The path of the running program (for re-running itself in a child role).
std::string SelfPath();

double Median(std::vector<double> values);

}  // namespace quorvane::bench
