#include "bench/bare_scanner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/engine.h"
#include "engine/nbt_codec.h"
#include "engine/probe_pass.h"

namespace quorvane::bench {

namespace {
using Clock = std::chrono::steady_clock;
constexpr unsigned kBatch = 64;
}  // namespace

BareScanner::BareScanner(uint32_t first, uint32_t count, uint16_t port)
    : first_(ntohl(first)), count_(count), port_(port), answeredIn_(count, 0), buffers_(size_t{kBatch} * (kMaxDatagram + 1)) {}

BareScanner::~BareScanner() {
    if (fd_ >= 0) close(fd_);
}

bool BareScanner::Open(std::string* error) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    int bytes = kProbeSocketBuffer;
    setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    return true;
}

unsigned BareScanner::Drain(Pass& pass) {
    mmsghdr msgs[kBatch];
    iovec iov[kBatch];
    unsigned total = 0;
    for (int round = 0; round < 4096; ++round) {
        for (unsigned i = 0; i < kBatch; ++i) {
            iov[i] = {buffers_.data() + i * (kMaxDatagram + 1), kMaxDatagram + 1};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = recvmmsg(fd_, msgs, kBatch, MSG_DONTWAIT, nullptr);
        if (n <= 0) break;
        total += static_cast<unsigned>(n);
        for (int i = 0; i < n; ++i) {
            const auto tid = ReplyTransactionId({static_cast<const uint8_t*>(iov[i].iov_base), msgs[i].msg_len});
            if (tid && *tid < count_ && answeredIn_[*tid] != passNumber_) {
                answeredIn_[*tid] = passNumber_;
                ++pass.replies;
            }
        }
        if (static_cast<unsigned>(n) < kBatch) break;
    }
    return total;
}

BareScanner::Pass BareScanner::Run(std::chrono::milliseconds limit) {
    Pass pass;
    ++passNumber_;
    QueryDatagram query{};
    BuildNodeStatusQuery(query);
    const auto start = Clock::now();
    const auto deadline = start + limit;
    auto lastReply = start;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    // Queries sent past the window because the oldest was slow: they no longer hold it.
    uint32_t forgiven = 0;
    for (uint32_t i = 0; i < count_ && Clock::now() < deadline; ++i) {
        while (int64_t{pass.sent} - pass.replies - forgiven >= int64_t{kPacingWindow}) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(kPacingExpiryMs)) <= 0 || Clock::now() >= deadline) {
                ++forgiven;
                break;
            }
            if (Drain(pass)) lastReply = Clock::now();
        }
        StampQuery(query, static_cast<uint16_t>(i));
        to.sin_addr.s_addr = htonl(first_ + i);
        if (sendto(fd_, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) ++pass.sent;
        if ((i + 1) % kBatch == 0 && Drain(pass)) lastReply = Clock::now();
    }
    while (pass.replies < pass.sent) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        if (Drain(pass)) lastReply = Clock::now();
    }
    pass.ms = std::chrono::duration<double, std::milli>(lastReply - start).count();
    return pass;
}

}  // namespace quorvane::bench
