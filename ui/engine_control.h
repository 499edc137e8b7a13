#pragma once
// What the windows need of the monitoring engine. The program plugs in the real engine
// (MakeEngineControl); GUI tests plug in a fake that starts no thread and opens no socket.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/engine.h"
#include "engine/messages.h"

namespace quorvane {

struct AppSettings;
class HostTable;

class EngineControl {
public:
    virtual ~EngineControl() = default;
    // The handling of WM_ENGINESTART.
    virtual int Start() = 0;
    // 1 while the user has stopped the service; read by the host view for every pass.
    virtual const std::atomic<uint8_t>& serviceStopped() const = 0;
    virtual void SetServiceStopped(bool stopped) = 0;
    // Holds the engine threads still around edit; pump runs while the UI thread waits.
    virtual bool TableEdit(const std::function<void()>& edit, const std::function<void()>& pump) = 0;
    // The shutdown sequence; false (nothing done) when it has already begun.
    virtual bool Shutdown(const std::function<void()>& save) = 0;
    virtual bool closing() const = 0;
};

// The real engine, sending its host messages to hostView.
std::unique_ptr<EngineControl> MakeEngineControl(const AppSettings& settings, HostTable& table,
                                                 MessageTarget& hostView);
// The same with engine options (tests point the queries at a simulator's port).
std::unique_ptr<EngineControl> MakeEngineControl(const AppSettings& settings, HostTable& table,
                                                 MessageTarget& hostView, const Engine::Options& options);

}  // namespace quorvane
