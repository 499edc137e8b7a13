#include "engine/probe_threads.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <vector>

namespace quorvane {

csendnbtthread::csendnbtthread(ProbePass& pass, Event& pausedAck, TickSource* ticks)
    : ceventthread(ticks), pass_(pass), pausedAck_(pausedAck) {}

int csendnbtthread::OnStart() {
    pass_.Prepare();
    return 0;
}

int csendnbtthread::DoWork() {
    if (pauseRequest_.load()) {
        pausedAck_.Set();
        resume_.Wait();
        pauseRequest_.store(0);
    }
    if (!stopRequested()) pass_.Run();
    return 0;
}

crecvnbtthread::crecvnbtthread(UdpSocket& socket, ReplyHandler& handler, Event& pausedAck)
    : socket_(socket), handler_(handler), pausedAck_(pausedAck), buffers_(size_t{kReceiveBatch} * (kMaxDatagram + 1)) {}

void crecvnbtthread::StopAndWake() {
    Stop();
    pauseEvent_.Set();
    resume_.Set();
}

int crecvnbtthread::Run() {
    if (!socket_.valid() || !pauseEvent_.valid()) {
        exitCode_ = -1;
        return exitCode_;
    }
    pollfd fds[2] = {{socket_.fd(), POLLIN, 0}, {pauseEvent_.fd(), POLLIN, 0}};
    while (!stopRequested()) {
        fds[0].revents = fds[1].revents = 0;
        const int r = poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;  // the socket is gone: nothing can be received any more
        }
        if (fds[1].revents & POLLIN) {
            pauseEvent_.Consume();
            if (stopRequested()) break;
            pausedAck_.Set();
            resume_.Wait();
            continue;
        }
        if (fds[0].revents & (POLLIN | POLLERR)) Drain();
        if (fds[0].revents & POLLNVAL) break;
    }
    exitCode_ = 0;
    return exitCode_;
}

void crecvnbtthread::Drain() {
    // A burst of replies (a pass over a large table) must not overflow the socket's buffer, so
    // everything queued is read in batches before the next wait.
    constexpr unsigned kBatch = kReceiveBatch;
    mmsghdr msgs[kBatch];
    iovec iov[kBatch];
    sockaddr_in from[kBatch];
    for (int round = 0; round < 4096 && !stopRequested(); ++round) {
        for (unsigned i = 0; i < kBatch; ++i) {
            // One byte more than the largest datagram kept, so a longer one shows as truncated.
            iov[i] = {buffers_.data() + i * (kMaxDatagram + 1), kMaxDatagram + 1};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_name = &from[i];
            msgs[i].msg_hdr.msg_namelen = sizeof from[i];
        }
        const int n = recvmmsg(socket_.fd(), msgs, kBatch, MSG_DONTWAIT, nullptr);
        if (n <= 0) return;
        datagrams_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
        for (int i = 0; i < n; ++i) {
            const size_t len = msgs[i].msg_len;
            if (len < 1 || len > kMaxDatagram || (msgs[i].msg_hdr.msg_flags & MSG_TRUNC)) continue;
            if (msgs[i].msg_hdr.msg_namelen < sizeof(sockaddr_in) || from[i].sin_family != AF_INET) continue;
            handler_.Handle({static_cast<const uint8_t*>(iov[i].iov_base), len}, from[i].sin_addr.s_addr);
        }
        if (static_cast<unsigned>(n) < kBatch) return;
    }
}

}  // namespace quorvane
