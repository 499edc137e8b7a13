#include "engine/engine.h"

#include "engine/probe_pass.h"
#include "engine/probe_threads.h"
#include "engine/reply_handler.h"
#include "engine/worker_thread.h"

namespace quorvane {

namespace {
constexpr uint32_t kTableEditWaitMs = 5000;
constexpr uint32_t kPumpSliceMs = 5;
}  // namespace

struct Engine::Impl {
    Impl(Engine& e, TickSource& ticks)
        : pass(e.table_, e.settings_, e.hostView_, e.serviceStopped_, ticks,
               [&e](std::span<const uint8_t> d, const Endpoint& to) { return e.probeSocket_.SendTo(d, to); },
               e.options_.nbnsPort,
               [&e] {
                   uint32_t queued = 0, limit = 0;
                   return e.probeSocket_.ReceiveQueueFill(&queued, &limit) && queued * 4 >= limit;
               }),
          handler(e.table_, e.settings_, e.hostView_, ticks) {}

    ProbePass pass;
    ReplyHandler handler;
    Event receiverPausedEvent{Event::Reset::Auto};
    Event senderPausedEvent{Event::Reset::Auto};
    // The notification workers; each channel gives its own a job type when it lands.
    ThreadPtr<cnotifythread> messengerWorker, mailWorker, execWorker, boxWorker, beepWorker;
    ThreadPtr<csendnbtthread> sender;
    ThreadPtr<crecvnbtthread> receiver;
};

Engine::Engine(const AppSettings& settings, HostTable& table, MessageTarget& hostView, Options options)
    : settings_(settings), table_(table), hostView_(hostView), options_(options) {
    impl_ = std::make_unique<Impl>(*this, options_.ticks ? *options_.ticks : SystemTicks());
}

Engine::Engine(const AppSettings& settings, HostTable& table, MessageTarget& hostView)
    : Engine(settings, table, hostView, Options{}) {}

Engine::~Engine() {
    // The program itself lets the engine threads end with the process; tests and tools that
    // build and drop engines stop them here. A sender held in a pause is let go first.
    if (impl_->sender) {
        impl_->sender->Stop();
        impl_->sender->Release();
    }
    if (impl_->receiver) impl_->receiver->StopAndWake();
    impl_->sender.reset();
    impl_->receiver.reset();
    Shutdown({});
}

int Engine::Start() {
    int result = 0;
    if (!probeSocket_.Open()) {
        result = -1;
    } else {
        probeSocket_.SetBroadcast(true);
        if (!probeSocket_.Bind(options_.probeAddress, settings_.probePort)) {
            result = -3;
        } else {
            probeSocket_.SetBufferSizes(kProbeSocketBuffer, kProbeSocketBuffer);
            // Linux reports no ICMP port-unreachable on an unconnected UDP socket without
            // IP_RECVERR, so probed addresses without an NBT service never fail later receives.
        }
    }

    Impl& d = *impl_;
    TickSource* ticks = options_.ticks;
    d.messengerWorker = MakeThread<cnotifythread>(ticks);
    d.messengerWorker->Resume();
    d.mailWorker = MakeThread<cnotifythread>(ticks);
    d.mailWorker->Resume();
    d.execWorker = MakeThread<cnotifythread>(ticks);
    d.execWorker->Resume();
    d.boxWorker = MakeThread<cnotifythread>(ticks);
    d.boxWorker->Resume();
    d.beepWorker = MakeThread<cnotifythread>(ticks);
    d.beepWorker->Resume();
    d.sender = MakeThread<csendnbtthread>(d.pass, d.senderPausedEvent, ticks);
    const int32_t seconds = settings_.queryTimerSeconds;
    d.sender->SetPeriod(seconds > 0 ? static_cast<uint32_t>(seconds) * 1000u : 0u);
    d.receiver = MakeThread<crecvnbtthread>(probeSocket_, d.handler, d.receiverPausedEvent);
    d.receiver->Resume();
    d.sender->Resume();
    return result;
}

void Engine::SetQueryPeriod(uint32_t ms) {
    if (impl_->sender) impl_->sender->SetPeriod(ms);
}

bool Engine::TableEdit(const std::function<void()>& edit, const std::function<void()>& pump) {
    uint32_t expected = 0;
    if (!tableEdit_.compare_exchange_strong(expected, 1)) return false;
    Impl& d = *impl_;
    if (d.sender && d.receiver) {
        // An acknowledgement left over from an edit that went on without it must not count.
        d.senderPausedEvent.Clear();
        d.receiverPausedEvent.Clear();
        d.sender->RequestPause();
        d.sender->Trigger();
        d.receiver->RequestPause();
        Event::WaitBoth(d.receiverPausedEvent, d.senderPausedEvent, kTableEditWaitMs, kPumpSliceMs,
                        [&] { if (pump) pump(); });
    }
    edit();
    if (d.sender && d.receiver) {
        d.sender->Release();
        d.receiver->Release();
    }
    tableEdit_.store(0);
    return true;
}

bool Engine::Shutdown(const std::function<void()>& save) {
    uint32_t expected = 0;
    if (!closing_.compare_exchange_strong(expected, 1)) return false;
    Impl& d = *impl_;
    for (auto* w : {d.messengerWorker.get(), d.mailWorker.get(), d.execWorker.get(), d.boxWorker.get(),
                    d.beepWorker.get()})
        if (w) w->Stop();
    // Mail, program, message box and sound first, then the messenger; an abandoned worker is
    // leaked by its ThreadPtr, never destroyed under its running thread.
    d.mailWorker.reset();
    d.execWorker.reset();
    d.boxWorker.reset();
    d.beepWorker.reset();
    d.messengerWorker.reset();
    if (save) save();
    return true;
}

uint64_t Engine::queriesSent() const { return impl_->pass.queriesSent(); }

uint64_t Engine::datagramsReceived() const { return impl_->receiver ? impl_->receiver->datagrams() : 0; }

}  // namespace quorvane
