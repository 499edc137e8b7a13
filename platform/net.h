#pragma once
// UDP sockets and host look-ups over POSIX sockets. Addresses are IPv4 in network byte order
// (as stored everywhere in the program); ports are given in host byte order.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvane {

struct Endpoint {
    uint32_t address = 0;  // network byte order
    uint16_t port = 0;     // host byte order
    bool operator==(const Endpoint&) const = default;
};

// "a.b.c.d" for an address in network byte order.
std::string FormatIpv4(uint32_t networkOrder);
// Parses strict dotted decimal; nullopt for anything else.
std::optional<uint32_t> ParseIpv4(const std::string& text);
// A network-order address from four octets, for tests and tools.
constexpr uint32_t Ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    // Stored as the bytes a.b.c.d in memory order.
    return static_cast<uint32_t>(a) | static_cast<uint32_t>(b) << 8 | static_cast<uint32_t>(c) << 16 |
           static_cast<uint32_t>(d) << 24;
}

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Creates the socket; false if the system refuses one.
    bool Open();
    void Close();
    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool Bind(uint32_t address, uint16_t port);
    bool SetBroadcast(bool on);
    bool SetBufferSizes(int sendBytes, int receiveBytes);
    bool SetReceiveTimeout(uint32_t ms);
    // Bytes held in the receive queue and the queue's limit (Linux SO_MEMINFO); false if unknown.
    bool ReceiveQueueFill(uint32_t* queued, uint32_t* limit) const;
    // The port the system gave the socket (host order), 0 if unknown.
    uint16_t LocalPort() const;
    Endpoint LocalEndpoint() const;

    // Returns the bytes sent, or -1 (errno holds the reason).
    long SendTo(std::span<const uint8_t> data, const Endpoint& to);
    // Receives one datagram. Returns its length, 0 for an empty datagram, -1 on error or time-out,
    // -2 when the datagram did not fit into buffer (it is dropped, like a Windows receive).
    long ReceiveFrom(std::span<uint8_t> buffer, Endpoint* from);
    // As ReceiveFrom, waiting at most timeoutMs for a datagram (-1 when none came).
    long ReceiveFromWithin(std::span<uint8_t> buffer, Endpoint* from, uint32_t timeoutMs);

private:
    int fd_ = -1;
};

// The local host name (at most 255 characters), or empty when the system gives none.
std::string LocalHostName();

// Resolves the host name and returns its first IPv4 address. Debian maps the host name to
// 127.0.1.1, so a loopback result is replaced by the first up, non-loopback interface address.
// Returns 1 and stores the address, or 0 and leaves out untouched.
int GetLocalAddress(uint32_t* out);

// The rule of GetLocalAddress on given inputs: resolved addresses of the host name in order, and
// the up, non-loopback interface addresses in order (all network byte order).
std::optional<uint32_t> ChooseLocalAddress(const std::vector<uint32_t>& resolved,
                                           const std::vector<uint32_t>& interfaces);

std::vector<uint32_t> ResolveIpv4(const std::string& hostName);
std::vector<uint32_t> UpInterfaceAddresses();

bool IsLoopback(uint32_t networkOrder);

}  // namespace quorvane
