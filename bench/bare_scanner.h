#pragma once
// The floor the engine's cost is held against: a scanner that does nothing but send a node
// status query to every address of a range and read the replies, in one thread, with the least
// work a real scanner needs (one sendto per query, recvmmsg batches, a reply matched to its
// host by transaction id and counted once). It uses the engine's socket buffer sizes and keeps
// at most as many queries unanswered as the engine's pacing does, so both face the same limit.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::bench {

class BareScanner {
public:
    struct Pass {
        uint32_t sent = 0;
        uint32_t replies = 0;  // distinct hosts that answered this pass
        double ms = 0;         // first send to last reply (or the limit)
    };

    // Hosts first..first+count-1 (network order), queried on port.
    BareScanner(uint32_t first, uint32_t count, uint16_t port);
    ~BareScanner();
    BareScanner(const BareScanner&) = delete;
    BareScanner& operator=(const BareScanner&) = delete;

    bool Open(std::string* error);
    // One pass; ends when every host has answered or limit has passed.
    Pass Run(std::chrono::milliseconds limit);

private:
    // Reads what is queued without waiting; returns the datagrams read.
    unsigned Drain(Pass& pass);

    uint32_t first_;  // host order
    uint32_t count_;
    uint16_t port_;
    int fd_ = -1;
    uint32_t passNumber_ = 0;
    std::vector<uint32_t> answeredIn_;  // per host: the last pass it answered in
    std::vector<uint8_t> buffers_;
};

}  // namespace quorvane::bench
