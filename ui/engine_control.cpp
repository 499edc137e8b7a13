#include "ui/engine_control.h"

#include "engine/engine.h"

namespace quorvane {

namespace {

class RealEngine final : public EngineControl {
public:
    RealEngine(const AppSettings& settings, HostTable& table, MessageTarget& hostView, const Engine::Options& options)
        : engine_(settings, table, hostView, options) {}

    int Start() override { return engine_.Start(); }
    const std::atomic<uint8_t>& serviceStopped() const override { return engine_.serviceStopped(); }
    void SetServiceStopped(bool stopped) override { engine_.SetServiceStopped(stopped); }
    bool TableEdit(const std::function<void()>& edit, const std::function<void()>& pump) override {
        return engine_.TableEdit(edit, pump);
    }
    bool Shutdown(const std::function<void()>& save) override { return engine_.Shutdown(save); }
    bool closing() const override { return engine_.closing(); }

private:
    Engine engine_;
};

}  // namespace

std::unique_ptr<EngineControl> MakeEngineControl(const AppSettings& settings, HostTable& table,
                                                 MessageTarget& hostView) {
    return std::make_unique<RealEngine>(settings, table, hostView, Engine::Options{});
}

std::unique_ptr<EngineControl> MakeEngineControl(const AppSettings& settings, HostTable& table,
                                                 MessageTarget& hostView, const Engine::Options& options) {
    return std::make_unique<RealEngine>(settings, table, hostView, options);
}

}  // namespace quorvane
