#include "tools/nbtsim/nbt_simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/net.h"

namespace quorvane::nbtsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kBatch = 64;          // datagrams per recvmmsg / sendmmsg
constexpr size_t kRxSize = 512;          // a query is 50 bytes; longer ones are not ours
constexpr int kReceiveRounds = 16;       // batches taken before the late queue is looked at
constexpr int kIdleWaitMs = 200;         // longest sleep when nothing happens
constexpr int kSendRetries = 4;          // EINTR retries of one sendmmsg
constexpr size_t kRxControl = CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(uint32_t));
constexpr size_t kTxControl = CMSG_SPACE(sizeof(in_pktinfo));

sockaddr_in SockAddr(uint32_t address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

struct NbtSimulator::Entry {
    HostState state;
    std::vector<uint8_t> response;  // transaction id 0
    uint64_t everyCount = 0;
};

struct NbtSimulator::Worker {
    struct Late {
        Clock::time_point due;
        uint64_t seq;
        sockaddr_in to;
        uint32_t from;
        uint32_t host;
        std::vector<uint8_t> bytes;
    };
    struct Slot {
        sockaddr_in to;
        uint32_t from;
        uint32_t host;
        size_t length;
        bool sent;
        alignas(cmsghdr) uint8_t control[kTxControl];
        std::array<uint8_t, kMaxComposedLength> bytes;
    };

    // Receive side.
    std::array<std::array<uint8_t, kRxSize>, kBatch> rxBuf{};
    std::array<sockaddr_in, kBatch> rxFrom{};
    struct alignas(cmsghdr) RxControl {
        uint8_t bytes[kRxControl];
    };
    std::array<RxControl, kBatch> rxControl{};
    std::array<iovec, kBatch> rxIov{};
    std::array<mmsghdr, kBatch> rx{};

    // Send side.
    std::array<Slot, kBatch> slots{};
    std::array<iovec, kBatch> txIov{};
    std::array<mmsghdr, kBatch> tx{};

    // Late replies: a min-heap on (due, seq); only the worker thread touches it.
    std::vector<Late> late;
    uint64_t lateSeq = 0;
    uint64_t rng = 0x2545F4914F6CDD1Dull;
    std::array<uint8_t, kMaxComposedLength> scratch{};

    static bool Later(const Late& a, const Late& b) { return a.due != b.due ? a.due > b.due : a.seq > b.seq; }
};

NbtSimulator::NbtSimulator(SimulatorOptions options) : options_(options) {}

NbtSimulator::~NbtSimulator() { Stop(); }

int NbtSimulator::AddHosts(uint32_t first, uint32_t count) {
    const uint64_t start = ntohl(first);
    if (start + count > 0x100000000ull) return -1;
    std::lock_guard lock(mutex_);
    uint32_t fresh = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (!index_.contains(htonl(static_cast<uint32_t>(start + i)))) ++fresh;
    if (hosts_.size() + fresh > kMaxHosts) return -1;
    hosts_.reserve(hosts_.size() + fresh);
    index_.reserve(hosts_.size() + fresh);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t address = htonl(static_cast<uint32_t>(start + i));
        if (index_.contains(address)) continue;
        Entry h;
        h.state.address = address;
        h.state.profile = DefaultProfile(address);
        h.response = BuildNodeStatusResponse(h.state.profile);
        index_.emplace(address, static_cast<uint32_t>(hosts_.size()));
        hosts_.push_back(std::move(h));
    }
    return static_cast<int>(fresh);
}

bool NbtSimulator::AddHost(uint32_t address, const HostProfile& profile) {
    if (!ValidSimName(profile.hostName) || !ValidSimName(profile.groupName) || !ValidSimName(profile.userName))
        return false;
    {
        std::lock_guard lock(mutex_);
        if (!index_.contains(address)) {
            if (hosts_.size() >= kMaxHosts) return false;
            Entry h;
            h.state.address = address;
            index_.emplace(address, static_cast<uint32_t>(hosts_.size()));
            hosts_.push_back(std::move(h));
        }
    }
    return SetProfile(address, profile);
}

size_t NbtSimulator::HostCount() const {
    std::lock_guard lock(mutex_);
    return hosts_.size();
}

std::vector<uint32_t> NbtSimulator::HostAddresses() const {
    std::lock_guard lock(mutex_);
    std::vector<uint32_t> out;
    out.reserve(hosts_.size());
    for (const Entry& h : hosts_) out.push_back(h.state.address);
    return out;
}

template <class Fn>
bool NbtSimulator::Modify(uint32_t address, Fn&& fn) {
    std::lock_guard lock(mutex_);
    const auto it = index_.find(address);
    if (it == index_.end()) return false;
    Entry& h = hosts_[it->second];
    const HostProfile before = h.state.profile;
    fn(h);
    if (h.state.profile != before) h.response = BuildNodeStatusResponse(h.state.profile);
    return true;
}

bool NbtSimulator::SetSilent(uint32_t address, bool silent) {
    return Modify(address, [&](Entry& h) { h.state.silent = silent; });
}

bool NbtSimulator::SetHostName(uint32_t address, std::string_view name) {
    return ValidSimName(name) && Modify(address, [&](Entry& h) { h.state.profile.hostName = name; });
}

bool NbtSimulator::SetGroupName(uint32_t address, std::string_view name) {
    return ValidSimName(name) && Modify(address, [&](Entry& h) { h.state.profile.groupName = name; });
}

bool NbtSimulator::SetUserName(uint32_t address, std::string_view name) {
    return ValidSimName(name) && Modify(address, [&](Entry& h) { h.state.profile.userName = name; });
}

bool NbtSimulator::SetProfile(uint32_t address, const HostProfile& profile) {
    if (!ValidSimName(profile.hostName) || !ValidSimName(profile.groupName) || !ValidSimName(profile.userName))
        return false;
    return Modify(address, [&](Entry& h) {
        h.state.profile = profile;
        // A host added by AddHost starts with an empty response; build it even if nothing changed.
        h.response = BuildNodeStatusResponse(profile);
    });
}

bool NbtSimulator::SetMac(uint32_t address, const MacAddress& mac) {
    return Modify(address, [&](Entry& h) { h.state.profile.mac = mac; });
}

bool NbtSimulator::SetDelay(uint32_t address, uint32_t ms) {
    return ms <= kMaxDelayMs && Modify(address, [&](Entry& h) { h.state.delayMs = ms; });
}

bool NbtSimulator::SetSpoofSource(uint32_t address, uint32_t from) {
    return Modify(address, [&](Entry& h) { h.state.spoofSource = from; });
}

bool NbtSimulator::SetMalformed(uint32_t address, Malform kind) {
    return Modify(address, [&](Entry& h) { h.state.malform = kind; });
}

bool NbtSimulator::SetAnswerEvery(uint32_t address, uint32_t k) {
    return k >= 1 && Modify(address, [&](Entry& h) {
               h.state.answerEvery = k;
               h.everyCount = 0;
           });
}

SimulatorStats NbtSimulator::Stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

std::optional<HostState> NbtSimulator::Host(uint32_t address) const {
    std::lock_guard lock(mutex_);
    const auto it = index_.find(address);
    if (it == index_.end()) return std::nullopt;
    return hosts_[it->second].state;
}

bool NbtSimulator::Start() {
    if (worker_.joinable()) return true;
    error_.clear();
    if (!wake_.valid()) {
        error_ = "no eventfd";
        return false;
    }
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd_ < 0) {
        error_ = Errno("socket");
        return false;
    }
    auto fail = [&](const char* what) {
        error_ = Errno(what);
        close(fd_);
        fd_ = -1;
        return false;
    };
    const int on = 1;
    if (setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) return fail("IP_PKTINFO");
    if (setsockopt(fd_, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) != 0) return fail("SO_RXQ_OVFL");
    // Without root the plain options apply, capped by net.core.rmem_max / wmem_max.
    const int rcv = options_.receiveBufferBytes;
    const int snd = options_.sendBufferBytes;
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &rcv, sizeof rcv) != 0)
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
    if (setsockopt(fd_, SOL_SOCKET, SO_SNDBUFFORCE, &snd, sizeof snd) != 0)
        setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &snd, sizeof snd);
    // A send never blocks the worker for long, so Stop stays prompt.
    const timeval sendLimit{0, 200000};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    const sockaddr_in sa = SockAddr(options_.bindAddress, options_.port);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        const int e = errno;
        const std::string where = FormatIpv4(options_.bindAddress) + ":" + std::to_string(options_.port);
        errno = e;
        return fail(("bind " + where).c_str());
    }
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &len);
    port_ = ntohs(bound.sin_port);
    len = sizeof receiveBuffer_;
    getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer_, &len);

    worker_state_ = std::make_unique<Worker>();
    stop_.store(false, std::memory_order_release);
    wake_.Consume();
    worker_ = std::thread([this] { Run(); });
    return true;
}

void NbtSimulator::Stop() {
    if (!worker_.joinable()) return;
    stop_.store(true, std::memory_order_release);
    wake_.Set();
    worker_.join();
    close(fd_);
    fd_ = -1;
    std::lock_guard lock(mutex_);
    stats_.lateReplyDropped += worker_state_->late.size();
    stats_.lateReplyPending = 0;
    worker_state_.reset();
}

void NbtSimulator::Run() {
    Worker& w = *worker_state_;

    // Sends slots [0, count). Replies are booked before they leave, so whoever receives one
    // finds it counted; a failed send is moved to the errors afterwards. REQUIRES: mutex_ not held.
    auto sendSlots = [&](unsigned count) {
        {
            std::lock_guard lock(mutex_);
            for (unsigned k = 0; k < count; ++k) {
                ++stats_.repliesSent;
                ++hosts_[w.slots[k].host].state.replies;
            }
        }
        for (unsigned i = 0; i < count; ++i) {
            Worker::Slot& s = w.slots[i];
            s.sent = false;
            w.txIov[i] = {s.bytes.data(), s.length};
            msghdr& m = w.tx[i].msg_hdr;
            m = {};
            m.msg_name = &s.to;
            m.msg_namelen = sizeof s.to;
            m.msg_iov = &w.txIov[i];
            m.msg_iovlen = 1;
            m.msg_control = s.control;
            m.msg_controllen = sizeof s.control;
            cmsghdr* c = CMSG_FIRSTHDR(&m);
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo pi{};
            pi.ipi_spec_dst.s_addr = s.from;  // the reply's source address
            std::memcpy(CMSG_DATA(c), &pi, sizeof pi);
        }
        unsigned i = 0;
        unsigned failed = 0;
        int retries = 0;
        while (i < count) {
            const int r = sendmmsg(fd_, &w.tx[i], count - i, MSG_NOSIGNAL);
            if (r > 0) {
                for (unsigned k = i; k < i + static_cast<unsigned>(r); ++k) w.slots[k].sent = true;
                i += static_cast<unsigned>(r);
            } else if (r < 0 && errno == EINTR && retries++ < kSendRetries) {
                continue;
            } else {
                ++i;  // this datagram failed (for example a source address that is not local)
                ++failed;
            }
        }
        if (failed == 0) return;
        std::lock_guard lock(mutex_);
        for (unsigned k = 0; k < count; ++k) {
            if (w.slots[k].sent) continue;
            --stats_.repliesSent;
            --hosts_[w.slots[k].host].state.replies;
            ++stats_.sendErrors;
        }
    };

    // Handles n received datagrams; returns the number of slots filled for sending now.
    auto handle = [&](unsigned n) -> unsigned {
        unsigned filled = 0;
        const auto now = Clock::now();
        std::lock_guard lock(mutex_);
        for (unsigned i = 0; i < n; ++i) {
            ++stats_.datagramsReceived;
            msghdr& m = w.rx[i].msg_hdr;
            uint32_t dst = 0;
            bool haveDst = false;
            for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    in_pktinfo pi;
                    std::memcpy(&pi, CMSG_DATA(c), sizeof pi);
                    dst = pi.ipi_addr.s_addr;  // the header's destination, not the route's
                    haveDst = true;
                } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                    uint32_t drops;
                    std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
                    stats_.kernelDrops = std::max<uint64_t>(stats_.kernelDrops, drops);
                }
            }
            const std::span<const uint8_t> query(w.rxBuf[i].data(), std::min<size_t>(w.rx[i].msg_len, kRxSize));
            if (!haveDst || (m.msg_flags & MSG_TRUNC) || !IsNodeStatusQuery(query)) {
                ++stats_.ignored;
                continue;
            }
            const auto it = index_.find(dst);
            if (it == index_.end()) {
                ++stats_.ignored;
                continue;
            }
            Entry& h = hosts_[it->second];
            ++h.state.queries;
            ++stats_.queriesReceived;
            if (h.state.silent) continue;
            if (h.state.answerEvery > 1 && ++h.everyCount % h.state.answerEvery != 0) continue;
            const uint32_t from = h.state.spoofSource ? h.state.spoofSource : dst;
            if (h.state.delayMs > 0) {
                if (w.late.size() >= options_.maxPendingLate) {
                    ++stats_.lateReplyDropped;
                    continue;
                }
                const size_t len = ComposeReply(h.response, query.data(), h.state.malform, w.rng, w.scratch);
                w.late.push_back({now + std::chrono::milliseconds(h.state.delayMs), w.lateSeq++, w.rxFrom[i], from,
                                  it->second, std::vector<uint8_t>(w.scratch.begin(), w.scratch.begin() + len)});
                std::push_heap(w.late.begin(), w.late.end(), Worker::Later);
                continue;
            }
            Worker::Slot& s = w.slots[filled++];
            s.length = ComposeReply(h.response, query.data(), h.state.malform, w.rng, s.bytes);
            s.to = w.rxFrom[i];
            s.from = from;
            s.host = it->second;
        }
        stats_.lateReplyPending = w.late.size();
        return filled;
    };

    // Moves due late replies into slots, a batch at a time (bounded per call).
    auto sendDueLate = [&] {
        for (int round = 0; round < kReceiveRounds && !w.late.empty(); ++round) {
            const auto now = Clock::now();
            unsigned filled = 0;
            while (filled < kBatch && !w.late.empty() && w.late.front().due <= now) {
                std::pop_heap(w.late.begin(), w.late.end(), Worker::Later);
                Worker::Late& l = w.late.back();
                Worker::Slot& s = w.slots[filled++];
                std::copy(l.bytes.begin(), l.bytes.end(), s.bytes.begin());
                s.length = l.bytes.size();
                s.to = l.to;
                s.from = l.from;
                s.host = l.host;
                w.late.pop_back();
            }
            if (filled == 0) break;
            {
                std::lock_guard lock(mutex_);
                stats_.lateReplyPending = w.late.size();
            }
            sendSlots(filled);
        }
    };

    while (!stop_.load(std::memory_order_acquire)) {
        bool busy = false;
        for (int round = 0; round < kReceiveRounds; ++round) {
            for (unsigned i = 0; i < kBatch; ++i) {
                w.rxIov[i] = {w.rxBuf[i].data(), kRxSize};
                msghdr& m = w.rx[i].msg_hdr;
                m = {};
                m.msg_name = &w.rxFrom[i];
                m.msg_namelen = sizeof w.rxFrom[i];
                m.msg_iov = &w.rxIov[i];
                m.msg_iovlen = 1;
                m.msg_control = w.rxControl[i].bytes;
                m.msg_controllen = sizeof w.rxControl[i].bytes;
            }
            const int n = recvmmsg(fd_, w.rx.data(), kBatch, MSG_DONTWAIT, nullptr);
            if (n <= 0) break;
            busy = true;
            const unsigned filled = handle(static_cast<unsigned>(n));
            if (filled > 0) sendSlots(filled);
            if (static_cast<unsigned>(n) < kBatch) break;
        }
        sendDueLate();
        if (busy) continue;

        int waitMs = kIdleWaitMs;
        if (!w.late.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(w.late.front().due - Clock::now()).count();
            waitMs = static_cast<int>(std::clamp<long long>(left, 0, kIdleWaitMs));
        }
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
        if (poll(p, 2, waitMs) > 0 && (p[1].revents & POLLIN)) wake_.Consume();
    }
}

}  // namespace quorvane::nbtsim
