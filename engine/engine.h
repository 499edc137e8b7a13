#pragma once
// The monitoring engine's lifecycle: the probe socket, the pause handshake events, the seven
// worker threads, the service switch, the table edit and the shutdown sequence.
//
// Threads: the probe sender Sends its messages to the host view target and waits for the UI
// thread; the reply receiver Posts. The UI thread therefore never waits for the sender without a
// time limit, and while it waits for a table-edit pause it keeps answering the sender (pump).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/host_table.h"
#include "engine/messages.h"
#include "platform/net.h"
#include "platform/sync.h"
#include "platform/tick.h"
#include "settings/app_settings.h"

namespace quorvane {

class csendnbtthread;
class crecvnbtthread;
class cbasethread;

// Send and receive buffer size of the probe socket.
inline constexpr int kProbeSocketBuffer = 131072;

class Engine {
public:
    struct Options {
        uint16_t nbnsPort = kNbnsPort;        // where queries go; tests point it at a simulator
        uint32_t probeAddress = 0;            // address the probe socket binds (0: any)
        TickSource* ticks = nullptr;          // nullptr: the system tick count
    };

    Engine(const AppSettings& settings, HostTable& table, MessageTarget& hostView, Options options);
    Engine(const AppSettings& settings, HostTable& table, MessageTarget& hostView);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The handling of WM_ENGINESTART. Returns the probe socket result: 0, -1 (no socket) or
    // -3 (bind failed); the engine starts in every case.
    int Start();

    const std::atomic<uint8_t>& serviceStopped() const { return serviceStopped_; }
    void SetServiceStopped(bool stopped) { serviceStopped_.store(stopped ? 1 : 0); }

    // Sets the sender's period (queryTimerSeconds x 1000 after a settings change).
    void SetQueryPeriod(uint32_t ms);

    // Pauses sender and receiver (at most 5000 ms, calling pump meanwhile so the UI thread keeps
    // answering the sender), runs edit, resumes both. False when an edit is already running.
    bool TableEdit(const std::function<void()>& edit, const std::function<void()>& pump);

    // The shutdown sequence: stops the notification workers in order, then calls save.
    // False (and nothing done) when it has already begun.
    bool Shutdown(const std::function<void()>& save);
    bool closing() const { return closing_.load() != 0; }

    UdpSocket& probeSocket() { return probeSocket_; }
    uint64_t queriesSent() const;
    uint64_t datagramsReceived() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    const AppSettings& settings_;
    HostTable& table_;
    MessageTarget& hostView_;
    Options options_;
    UdpSocket probeSocket_;
    std::atomic<uint8_t> serviceStopped_{0};
    std::atomic<uint32_t> tableEdit_{0};
    std::atomic<uint32_t> closing_{0};
};

}  // namespace quorvane
