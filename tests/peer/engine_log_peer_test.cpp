// The log file channel fed by the real engine: a host of the NBT simulator is found, confirmed up
// and, once silent, declared down; the log file then holds the three lines in that order.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/host_table.h"
#include "engine/host_view.h"
#include "engine/message_loop.h"
#include "notify/dispatcher.h"
#include "notify/log_channel.h"
#include "tests/peer/peer_process.h"
#include "tests/support/recording_target.h"
#include "tests/support/test_env.h"
#include "tools/nbtsim/nbt_simulator.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// The event list as far as the notifications go: keeps the kinds and hands every event on.
class DispatchingEvents : public EventSink {
public:
    explicit DispatchingEvents(Dispatcher& d) : hook_(d.Hook()) {}
    void AddEvent(const MonitorEvent& e) override {
        {
            std::lock_guard lock(mutex_);
            kinds_.push_back(e.kind);
        }
        hook_(e);
    }
    std::vector<EventKind> kinds() const {
        std::lock_guard lock(mutex_);
        return kinds_;
    }

private:
    std::function<void(const MonitorEvent&)> hook_;
    mutable std::mutex mutex_;
    std::vector<EventKind> kinds_;
};

TEST(EngineLogPeer, FoundUpAndDownOfASimulatedHostAreLoggedInOrder) {
    const fs::path dir = test::TempHome() / "engine-log";
    fs::create_directories(dir);
    const uint32_t address = Ipv4(127, static_cast<uint8_t>(100 + getpid() % 100),
                                  static_cast<uint8_t>(1 + (getpid() / 100) % 250), 9);

    nbtsim::SimulatorOptions simOptions;
    simOptions.port = 0;
    nbtsim::NbtSimulator sim(simOptions);
    ASSERT_EQ(sim.AddHosts(address, 1), 1);
    ASSERT_TRUE(sim.SetHostName(address, "WS1"));
    ASSERT_TRUE(sim.Start()) << sim.error();

    AppSettings settings;
    settings.queryTimerSeconds = 1;
    settings.probePort = 0;
    IpSegment segment;
    segment.first = segment.end = address;
    settings.segments = {segment};
    settings.logFile = (dir / "quorvane.log").string();

    HostTable table;
    ASSERT_GE(table.ApplySegments(settings.segments, 0, 1), 1);
    LogFileChannel log(settings);
    log.OpenLog();
    ASSERT_TRUE(log.isOpen());
    Dispatcher dispatcher(settings, {.log = &log});
    DispatchingEvents events(dispatcher);
    test::RecordingList list;
    std::atomic<uint8_t> serviceStopped{0};
    HostView view(table, settings, list, events, serviceStopped);
    // The loop's thread plays the UI thread: the host view, the dispatcher and the log run there.
    auto loop = std::make_unique<MessageLoop>([&](const EngineMessage& m) { return view.Handle(m); });
    loop->Start();

    Engine::Options options;
    options.nbnsPort = sim.port();
    options.probeAddress = Ipv4(127, 0, 0, 1);
    auto engine = std::make_unique<Engine>(settings, table, *loop, options);
    ASSERT_EQ(engine->Start(), 0);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    auto waitFor = [&](size_t count) {
        while (events.kinds().size() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return events.kinds().size() >= count;
    };
    const bool upSeen = waitFor(2);
    if (upSeen) sim.SetSilent(address, true);
    const bool downSeen = upSeen && waitFor(3);
    // Engine threads end first (the sender may wait on the loop), then the loop; then the log.
    engine.reset();
    loop.reset();
    log.CloseLog();
    ASSERT_TRUE(upSeen) << "events before the host fell silent: " << events.kinds().size();
    ASSERT_TRUE(downSeen) << "no down event";
    EXPECT_EQ(events.kinds(), (std::vector<EventKind>{EventKind::Up, EventKind::Up, EventKind::Down}));

    const std::string ip = FormatIpv4(address);
    const std::string ws1 = "WS1            ";
    EXPECT_EQ(test::ReadWholeFile(settings.logFile),
              "Found New Host Name is " + ws1 + ";" + ip + ";" + ws1 + "\r\n" +
              "Host is alive of " + ws1 + ";" + ip + ";" + ws1 + "\r\n" +
              "Host is down of " + ws1 + ";" + ip + ";" + ws1 + "\r\n");
}

}  // namespace
}  // namespace quorvane
