#pragma once
// Stand-ins for the kernel's event objects.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quorvane {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// An event: auto-reset (a successful wait clears it) or manual-reset (stays set until Reset).
class Event {
public:
    enum class Reset { Auto, Manual };
    explicit Event(Reset mode = Reset::Auto, bool initiallySet = false)
        : manual_(mode == Reset::Manual), set_(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Clear();
    bool IsSet() const;
    // Waits at most timeoutMs (kInfinite: no limit). Returns true when the event was set.
    bool Wait(uint32_t timeoutMs = kInfinite);

    // Waits until both events are set, at most timeoutMs in all; returns true if both were.
    // pump, when given, runs every sliceMs while waiting (the UI thread answers messages there).
    template <class Pump>
    static bool WaitBoth(Event& a, Event& b, uint32_t timeoutMs, uint32_t sliceMs, Pump&& pump);

private:
    const bool manual_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool set_;  // guarded by mutex_
};

// An event that can be waited on together with a socket (poll on fd()). Built on eventfd.
class PollEvent {
public:
    PollEvent();
    ~PollEvent();
    PollEvent(const PollEvent&) = delete;
    PollEvent& operator=(const PollEvent&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void Set();
    // Clears the event; returns true if it had been set (auto-reset consumption).
    bool Consume();

private:
    int fd_ = -1;
};

template <class Pump>
bool Event::WaitBoth(Event& a, Event& b, uint32_t timeoutMs, uint32_t sliceMs, Pump&& pump) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool gotA = false;
    bool gotB = false;
    for (;;) {
        if (!gotA) gotA = a.Wait(0);
        if (!gotB) gotB = b.Wait(0);
        if (gotA && gotB) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const uint32_t slice = static_cast<uint32_t>(std::min<long long>(left, sliceMs));
        pump();
        if (!gotA) {
            gotA = a.Wait(slice);
        } else if (!gotB) {
            gotB = b.Wait(slice);
        }
    }
}

}  // namespace quorvane
