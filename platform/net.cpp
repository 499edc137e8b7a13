#include "platform/net.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quorvane {

std::string FormatIpv4(uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

std::optional<uint32_t> ParseIpv4(const std::string& text) {
    in_addr a{};
    // inet_pton accepts exactly four decimal parts, no leading zeros beyond a lone 0.
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return std::nullopt;
    return a.s_addr;
}

bool IsLoopback(uint32_t networkOrder) { return (ntohl(networkOrder) >> 24) == 127; }

namespace {
sockaddr_in ToSockaddr(const Endpoint& e) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(e.port);
    sa.sin_addr.s_addr = e.address;
    return sa;
}
}  // namespace

UdpSocket::~UdpSocket() { Close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool UdpSocket::Open() {
    Close();
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return fd_ >= 0;
}

void UdpSocket::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool UdpSocket::Bind(uint32_t address, uint16_t port) {
    const sockaddr_in sa = ToSockaddr({address, port});
    return fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool UdpSocket::SetBroadcast(bool on) {
    const int v = on ? 1 : 0;
    return fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &v, sizeof v) == 0;
}

bool UdpSocket::SetBufferSizes(int sendBytes, int receiveBytes) {
    if (fd_ < 0) return false;
    const bool s = setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes) == 0;
    const bool r = setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes) == 0;
    return s && r;
}

bool UdpSocket::SetReceiveTimeout(uint32_t ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
    return fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool UdpSocket::ReceiveQueueFill(uint32_t* queued, uint32_t* limit) const {
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t len = sizeof info;
    if (fd_ < 0 || getsockopt(fd_, SOL_SOCKET, SO_MEMINFO, info, &len) != 0) return false;
    if (len < sizeof(uint32_t) * (SK_MEMINFO_RCVBUF + 1)) return false;
    *queued = info[SK_MEMINFO_RMEM_ALLOC];
    *limit = info[SK_MEMINFO_RCVBUF];
    return true;
}

Endpoint UdpSocket::LocalEndpoint() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return {};
    return {sa.sin_addr.s_addr, ntohs(sa.sin_port)};
}

uint16_t UdpSocket::LocalPort() const { return LocalEndpoint().port; }

long UdpSocket::SendTo(std::span<const uint8_t> data, const Endpoint& to) {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    const sockaddr_in sa = ToSockaddr(to);
    ssize_t r;
    do {
        r = sendto(fd_, data.data(), data.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    } while (r < 0 && errno == EINTR);
    return static_cast<long>(r);
}

long UdpSocket::ReceiveFrom(std::span<uint8_t> buffer, Endpoint* from) {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ssize_t r;
    do {
        // MSG_TRUNC makes the result the datagram's real length, so an oversized one is detected.
        r = recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &len);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    if (static_cast<size_t>(r) > buffer.size()) return -2;
    if (from) *from = {sa.sin_addr.s_addr, ntohs(sa.sin_port)};
    return static_cast<long>(r);
}

long UdpSocket::ReceiveFromWithin(std::span<uint8_t> buffer, Endpoint* from, uint32_t timeoutMs) {
    if (fd_ < 0) return -1;
    pollfd p{fd_, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, static_cast<int>(timeoutMs));
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return -1;
    return ReceiveFrom(buffer, from);
}

std::string LocalHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    name[255] = '\0';
    return name;
}

std::vector<uint32_t> ResolveIpv4(const std::string& hostName) {
    std::vector<uint32_t> out;
    if (hostName.empty()) return out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(hostName.c_str(), nullptr, &hints, &list) != 0) return out;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            out.push_back(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
        }
    }
    freeaddrinfo(list);
    return out;
}

std::vector<uint32_t> UpInterfaceAddresses() {
    std::vector<uint32_t> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET) continue;
        if (!(ifa->ifa_flags & IFF_UP) || (ifa->ifa_flags & IFF_LOOPBACK)) continue;
        const uint32_t a = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr;
        if (!IsLoopback(a)) out.push_back(a);
    }
    freeifaddrs(list);
    return out;
}

std::optional<uint32_t> ChooseLocalAddress(const std::vector<uint32_t>& resolved,
                                           const std::vector<uint32_t>& interfaces) {
    if (resolved.empty()) return std::nullopt;
    if (!IsLoopback(resolved.front())) return resolved.front();
    if (interfaces.empty()) return std::nullopt;
    return interfaces.front();
}

int GetLocalAddress(uint32_t* out) {
    const std::string name = LocalHostName();
    if (name.empty()) return 0;
    const std::vector<uint32_t> resolved = ResolveIpv4(name);
    std::optional<uint32_t> chosen;
    if (!resolved.empty() && IsLoopback(resolved.front())) {
        chosen = ChooseLocalAddress(resolved, UpInterfaceAddresses());
    } else {
        chosen = ChooseLocalAddress(resolved, {});
    }
    if (!chosen) return 0;
    *out = *chosen;
    return 1;
}

}  // namespace quorvane
