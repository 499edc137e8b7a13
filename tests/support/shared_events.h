#pragma once
// An event sink that threads can share: the host view adds events on its thread while the test
// waits for them on its own.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/host_view.h"

namespace quorvane::test {

class SharedEvents : public EventSink {
public:
    void AddEvent(const MonitorEvent& e) override {
        std::lock_guard lock(mutex_);
        events_.push_back(e);
        cv_.notify_all();
    }
    std::vector<MonitorEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // Waits until pred(events) holds, at most timeoutMs.
    bool WaitFor(const std::function<bool(const std::vector<MonitorEvent>&)>& pred, int timeoutMs = 20000) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pred(events_); });
    }
    size_t CountText(const std::string& text) const {
        size_t n = 0;
        for (const auto& e : events())
            if (e.text == text) ++n;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<MonitorEvent> events_;
};

}  // namespace quorvane::test
