#pragma once
// A node status responder for many simulated hosts behind one UDP socket. The socket is bound to
// the wildcard address, so it receives queries for every local address (all of 127.0.0.0/8 on
// loopback); a query is answered only when its destination is a configured host, and the reply
// leaves FROM that address (IP_PKTINFO), to the query's source address and port.
//
// One worker thread receives and sends in batches and keeps the queue of late replies. Host
// controls and Stats are thread-safe and may be called while it runs; Start and Stop belong to
// the owner's thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/sync.h"
#include "tools/nbtsim/sim_reply.h"

namespace quorvane::nbtsim {

struct SimulatorOptions {
    uint32_t bindAddress = 0;  // network order; 0 = any, needed to answer for many addresses
    uint16_t port = kNbnsPort;  // 0: an ephemeral port, see port()
    // Asked for with SO_RCVBUFFORCE (root), else SO_RCVBUF up to the system's limit. A probe
    // pass sends every query back to back, and each queued datagram is charged far more than
    // its 50 bytes, so tens of thousands of them need tens of megabytes.
    int receiveBufferBytes = 64 << 20;
    int sendBufferBytes = 8 << 20;
    size_t maxPendingLate = 1 << 17;  // late replies waiting; more are dropped and counted
};

struct SimulatorStats {
    uint64_t datagramsReceived = 0;
    uint64_t queriesReceived = 0;  // node status queries to configured hosts
    uint64_t ignored = 0;          // anything else: other datagrams, other destinations
    uint64_t repliesSent = 0;
    uint64_t sendErrors = 0;
    uint64_t lateReplyPending = 0;
    uint64_t lateReplyDropped = 0;  // the late queue was full, or the simulator stopped
    uint64_t kernelDrops = 0;       // queries the kernel dropped for a full receive buffer
};

struct HostState {
    uint32_t address = 0;
    HostProfile profile;
    bool silent = false;
    uint32_t delayMs = 0;
    uint32_t spoofSource = 0;  // network order; 0: reply from the queried address
    Malform malform = Malform::None;
    uint32_t answerEvery = 1;  // answer the k-th, 2k-th, ... query only
    uint64_t queries = 0;
    uint64_t replies = 0;
};

class NbtSimulator {
public:
    static constexpr size_t kMaxHosts = 1 << 17;
    static constexpr uint32_t kMaxDelayMs = 600000;

    explicit NbtSimulator(SimulatorOptions options = {});
    ~NbtSimulator();
    NbtSimulator(const NbtSimulator&) = delete;
    NbtSimulator& operator=(const NbtSimulator&) = delete;

    // Adds count consecutive addresses from first (network order) with their default profiles;
    // addresses already present keep their state. Returns the number added, or -1 (and adds
    // nothing) when the range wraps past 255.255.255.255 or would exceed kMaxHosts.
    int AddHosts(uint32_t first, uint32_t count);
    bool AddHost(uint32_t address, const HostProfile& profile);
    size_t HostCount() const;
    std::vector<uint32_t> HostAddresses() const;

    // Opens, binds and starts the worker. False (see error()) when the socket cannot be had.
    bool Start();
    // Ends the worker within a short time; late replies still queued are dropped.
    void Stop();
    bool running() const { return worker_.joinable(); }
    uint16_t port() const { return port_; }
    // The receive buffer the system granted (0 before Start); small means drops under load.
    int receiveBufferBytes() const { return receiveBuffer_; }
    const std::string& error() const { return error_; }

    // Controls: false when address is not a configured host or the value is out of range.
    bool SetSilent(uint32_t address, bool silent);
    bool SetHostName(uint32_t address, std::string_view name);  // at most 15 bytes; "" leaves it out
    bool SetGroupName(uint32_t address, std::string_view name);
    bool SetUserName(uint32_t address, std::string_view name);
    bool SetProfile(uint32_t address, const HostProfile& profile);
    bool SetMac(uint32_t address, const MacAddress& mac);
    bool SetDelay(uint32_t address, uint32_t ms);  // 0: at once; at most kMaxDelayMs
    // Replies leave from `from` (0: off). It must be a local address (any 127.x on loopback);
    // the system refuses others and the replies count as send errors.
    bool SetSpoofSource(uint32_t address, uint32_t from);
    bool SetMalformed(uint32_t address, Malform kind);
    bool SetAnswerEvery(uint32_t address, uint32_t k);  // k >= 1; restarts the count

    SimulatorStats Stats() const;
    std::optional<HostState> Host(uint32_t address) const;

private:
    struct Entry;
    struct Worker;
    template <class Fn>
    bool Modify(uint32_t address, Fn&& fn);
    void Run();

    const SimulatorOptions options_;
    mutable std::mutex mutex_;
    std::vector<Entry> hosts_;                       // guarded by mutex_
    std::unordered_map<uint32_t, uint32_t> index_;  // address -> hosts_ index; guarded by mutex_
    SimulatorStats stats_;                           // guarded by mutex_

    int fd_ = -1;
    uint16_t port_ = 0;
    int receiveBuffer_ = 0;
    std::string error_;
    std::atomic<bool> stop_{false};
    PollEvent wake_;
    std::unique_ptr<Worker> worker_state_;
    std::thread worker_;
};

}  // namespace quorvane::nbtsim
