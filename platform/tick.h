#pragma once
// Millisecond tick counter: CLOCK_MONOTONIC truncated to 32 bits. Engine durations are
// differences of ticks taken with unsigned arithmetic, so the wrap every 49.7 days is harmless.
// Code that times things takes a TickSource so that tests can drive time by hand.

#include <atomic>
#include <cstdint>

namespace quorvane {

uint32_t GetTickCount();

class TickSource {
public:
    virtual ~TickSource() = default;
    virtual uint32_t Now() = 0;
};

// The real clock; one process-wide instance.
TickSource& SystemTicks();

// A clock that only moves when told to; safe to read from any thread.
class ManualTicks final : public TickSource {
public:
    explicit ManualTicks(uint32_t start = 1) : now_(start) {}
    uint32_t Now() override { return now_.load(std::memory_order_acquire); }
    void Set(uint32_t t) { now_.store(t, std::memory_order_release); }
    void Advance(uint32_t ms) { now_.fetch_add(ms, std::memory_order_acq_rel); }

private:
    std::atomic<uint32_t> now_;
};

}  // namespace quorvane
