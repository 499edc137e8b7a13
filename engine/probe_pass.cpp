#include "engine/probe_pass.h"

#include <chrono>
#include <thread>

namespace quorvane {

ProbePass::ProbePass(HostTable& table, const AppSettings& settings, MessageTarget& hostView,
                     const std::atomic<uint8_t>& serviceStopped, TickSource& ticks, SendFn send, uint16_t nbnsPort,
                     BacklogFn backlog)
    : table_(table),
      settings_(settings),
      hostView_(hostView),
      serviceStopped_(serviceStopped),
      ticks_(ticks),
      send_(std::move(send)),
      backlog_(std::move(backlog)),
      nbnsPort_(nbnsPort) {
    Prepare();
}

void ProbePass::Prepare() { BuildNodeStatusQuery(query_); }

void ProbePass::Run() {
    const uint32_t now = ticks_.Now();
    {
        EngineMessage begin;
        begin.message = WM_PASSBEGIN;
        begin.wParam = now;
        if (hostView_.Send(std::move(begin)) != 0) return;
    }
    const uint32_t threshold = settings_.hostStateThreshold;
    const uint32_t n = table_.highWater();
    for (uint32_t i = 0; i < n; ++i) {
        if (serviceStopped_.load(std::memory_order_relaxed)) break;
        HostEntry& host = table_.slot(i);
        if (host.ipv4() == 0) continue;

        enum class Step { None, Query, Missed, Down } step = Step::None;
        uint32_t streak = 0;
        {
            std::lock_guard lock(table_.mutex());
            if (host.ipv4() == 0) continue;  // freed by a segment edit since the check above
            if (host.lastSendTick != 0 && host.replyTick == 0) {
                // Ages are tick differences, so the counter's wrap does not matter.
                if (now - host.lastSendTick < host.replyTimeoutMs) continue;
                host.lastSendTick = 0;
                switch (host.state()) {
                    case HostState::Down:
                        break;
                    case HostState::Missing:
                        streak = ++host.streak;
                        if (host.streak >= threshold) {
                            host.setState(HostState::Down);
                            step = Step::Down;
                        }
                        break;
                    case HostState::Answering:
                    case HostState::Up:
                        host.streak = 0;
                        step = Step::Missed;
                        break;
                }
            } else if (now - host.priorSendTick >= host.queryIntervalMs) {
                step = Step::Query;
            }
        }
        switch (step) {
            case Step::None:
                break;
            case Step::Query:
                SendQuery(host, static_cast<uint16_t>(i));
                break;
            case Step::Missed: {
                EngineMessage m;
                m.message = WM_HOSTMISSED;
                m.host = &host;
                m.lParam = 1;
                hostView_.Send(std::move(m));
                std::lock_guard lock(table_.mutex());
                host.setState(HostState::Missing);
                break;
            }
            case Step::Down: {
                EngineMessage m;
                m.message = WM_HOSTDOWN;
                m.host = &host;
                m.lParam = streak;
                hostView_.Send(std::move(m));
                break;
            }
        }
    }
    EngineMessage end;
    end.message = WM_PASSEND;
    end.wParam = now;
    hostView_.Send(std::move(end));
}

void ProbePass::Pace() {
    const Flight f = flights_[nextFlight_];
    if (!f.used) return;
    HostEntry& host = table_.slot(f.slot);
    // Pacing is about real time (how fast replies drain), not the protocol's tick count.
    using Clock = std::chrono::steady_clock;
    const auto expired = f.sent + std::chrono::milliseconds(kPacingExpiryMs);
    const auto giveUp = f.sent + std::chrono::milliseconds(kPacingMaxWaitMs);
    for (;;) {
        {
            std::lock_guard lock(table_.mutex());
            if (host.replyTick != 0 || host.lastSendTick != f.tick) return;
        }
        if (serviceStopped_.load(std::memory_order_relaxed)) return;
        const auto now = Clock::now();
        if (now >= giveUp || (now >= expired && !(backlog_ && backlog_()))) return;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

void ProbePass::SendQuery(HostEntry& host, uint16_t slot) {
    Pace();
    StampQuery(query_, slot);
    uint32_t address;
    uint32_t sendTick;
    {
        std::lock_guard lock(table_.mutex());
        address = host.ipv4();
        if (address == 0) return;  // freed meanwhile: no query to 0.0.0.0
        host.priorSendTick = host.lastSendTick;
        host.replyTick = 0;
        const uint32_t t = ticks_.Now();
        host.lastSendTick = t != 0 ? t : 1;  // 0 means "no query outstanding"
        sendTick = host.lastSendTick;
    }
    flights_[nextFlight_] = {true, slot, sendTick, std::chrono::steady_clock::now()};
    nextFlight_ = (nextFlight_ + 1) % kPacingWindow;
    const long r = send_(query_, {address, nbnsPort_});
    if (r <= 0) {
        std::lock_guard lock(table_.mutex());
        host.lastSendTick = 0;
        return;
    }
    queriesSent_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace quorvane
