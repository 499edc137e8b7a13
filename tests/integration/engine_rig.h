#pragma once
// The engine against the NBT simulator on loopback, with the host view running on a message loop
// thread of its own (standing in for the UI thread), and thread-safe records of the events and
// the list calls. Hosts get short per-host query intervals and reply time-outs and the sender a
// short period, so the loss rules play out in a fraction of the real time.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/host_view.h"
#include "engine/message_loop.h"
#include "platform/net.h"
#include "tests/support/recording_target.h"
#include "tests/support/shared_events.h"
#include "tools/nbtsim/nbt_simulator.h"

namespace quorvane::test {

struct RigTiming {
    uint32_t periodMs = 150;
    uint32_t replyTimeoutMs = 400;
    uint32_t queryIntervalMs = 0;
};

class EngineRig {
public:
    // Simulated hosts first..first+count-1 (a.b.c.d as four octets of a 127.x address).
    EngineRig(uint32_t first, uint32_t count, RigTiming timing = {})
        : first_(first), timing_(timing), loop_([this](const EngineMessage& m) { return Handle(m); }) {
        EXPECT_EQ(sim_.AddHosts(first, count), static_cast<int>(count));
        EXPECT_TRUE(sim_.Start()) << sim_.error();
        settings_.probePort = 0;
        settings_.queryTimerSeconds = 1;
        IpSegment seg;
        seg.first = first;
        seg.end = htonl(ntohl(first) + count - 1);
        settings_.segments = {seg};
        EXPECT_GE(table_.ApplySegments(settings_.segments, 0, 1), 0);
        for (uint32_t i = 0; i < table_.highWater(); ++i) {
            table_.slot(i).queryIntervalMs = timing.queryIntervalMs;
            table_.slot(i).replyTimeoutMs = timing.replyTimeoutMs;
        }
        Engine::Options options;
        options.nbnsPort = sim_.port();
        options.probeAddress = Ipv4(127, 0, 0, 1);
        engine_ = std::make_unique<Engine>(settings_, table_, loop_, options);
        view_ = std::make_unique<HostView>(table_, settings_, list_, events_, engine_->serviceStopped());
        loop_.Start();
    }
    ~EngineRig() {
        engine_.reset();  // while the loop still answers the sender
        loop_.Quit();
    }

    void Start() {
        EXPECT_EQ(engine_->Start(), 0);
        engine_->SetQueryPeriod(timing_.periodMs);
    }
    // Runs fn on the loop thread (as the UI thread would) and waits for it.
    void OnUiThread(const std::function<void()>& fn) {
        EngineMessage m;
        m.message = kRunOnLoop;
        std::function<void()> f = fn;
        pending_ = &f;
        loop_.Send(m);
        pending_ = nullptr;
    }

    HostEntry& Slot(uint32_t i) { return table_.slot(i); }
    uint32_t Address(uint32_t i) const { return htonl(ntohl(first_) + i); }

    nbtsim::NbtSimulator& sim() { return sim_; }
    Engine& engine() { return *engine_; }
    HostTable& table() { return table_; }
    SharedEvents& events() { return events_; }
    AppSettings& settings() { return settings_; }
    RecordingList& list() { return list_; }
    MessageLoop& loop() { return loop_; }

private:
    static constexpr uint32_t kRunOnLoop = 0xFFFF0001u;

    uint32_t first_;
    RigTiming timing_;
    nbtsim::NbtSimulator sim_{nbtsim::SimulatorOptions{.port = 0}};
    AppSettings settings_;
    HostTable table_;
    RecordingList list_;  // touched on the loop thread only
    SharedEvents events_;
    std::unique_ptr<HostView> view_;
    std::function<void()>* pending_ = nullptr;
    MessageLoop loop_;
    std::unique_ptr<Engine> engine_;

    int64_t Handle(const EngineMessage& m) {
        if (m.message == kRunOnLoop) {
            (*pending_)();
            return 0;
        }
        return view_->Handle(m);
    }
};

}  // namespace quorvane::test
