#include "engine/worker_thread.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

#if defined(__SANITIZE_ADDRESS__)
#define QUORVANE_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVANE_LSAN 1
#endif
#endif
#ifdef QUORVANE_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace quorvane {

cbasethread::cbasethread() {
    try {
        // The body only starts after Resume, when the owner has finished building the object.
        thread_ = std::make_unique<Thread>([this] { return Entry(); });
    } catch (const std::system_error&) {
        thread_.reset();  // no thread: Resume does nothing and WaitStop returns 0
    }
}

cbasethread::~cbasethread() {
    if (thread_ && resumed_.load() && !thread_->Finished()) {
        // The body may be using the parts of this object that are already destroyed.
        std::fprintf(stderr, "quorvane: a thread object was destroyed while its thread was running\n");
        std::abort();
    }
}

int cbasethread::Entry() {
    OnStart();
    Run();
    return ExitCode();
}

void cbasethread::Resume() {
    if (!thread_) return;
    resumed_.store(true);
    thread_->Resume();
}

int cbasethread::WaitStop(uint32_t timeoutMs) {
    if (!thread_) return 0;
    switch (thread_->Join(timeoutMs)) {
        case Thread::JoinResult::NoThread:
            return 0;
        case Thread::JoinResult::Joined:
            return 1;
        case Thread::JoinResult::Abandoned:
            break;
    }
    abandoned_.store(true);
    return 2;
}

bool cbasethread::finished() const { return thread_ && thread_->Finished(); }

int cbasethread::threadExitCode() const { return thread_ ? thread_->ExitCode() : 0; }

std::thread::id cbasethread::threadId() const { return thread_ ? thread_->Id() : std::thread::id(); }

int StopAndDestroy(cbasethread* thread) {
    if (!thread) return 0;
    thread->Stop();
    const int result = thread->WaitStop();
    if (thread->abandoned() && !thread->finished()) {
#ifdef QUORVANE_LSAN
        __lsan_ignore_object(thread);
#endif
        return result;  // leaked on purpose: the abandoned thread still refers to it
    }
    delete thread;
    return result;
}

ceventthread::ceventthread(TickSource* ticks) : ticks_(ticks ? *ticks : SystemTicks()) {}

int ceventthread::Run() {
    // Set when the last run overran its period, or a Trigger came while it ran: run again at once.
    bool runNow = false;
    while (stop_.load() == 0) {
        const uint32_t start = ticks_.Now();
        const uint32_t period = period_.load();
        const uint32_t last = lastRunTick_.load();
        uint32_t wait;
        // Ticks wrap every 49.7 days: compare the time since the last run, not the tick values.
        if (!runNow && last != 0 && start - last < period) {
            wait = period - (start - last);
        } else {
            runNow = false;
            triggered_.store(false);
            DoWork();
            uint32_t end = ticks_.Now();
            if (end == 0) end = 1;  // 0 would read as "never run"
            lastRunTick_.store(end);
            const uint32_t elapsed = end - start;
            if (period != 0 && (triggered_.load() || (elapsed >= period && paused_.load() == 0))) {
                runNow = true;
                continue;
            }
            wait = period - elapsed;
        }
        if (paused_.load() != 0 || period == 0) wait = kInfinite;
        WaitWake(wait);  // woken or timed out, the next step decides again
    }
    return 0;
}

void ceventthread::Trigger() {
    triggered_.store(true);
    lastRunTick_.store(0);
    wake_.Set();
}

void ceventthread::Stop() {
    stop_.store(1);
    wake_.Set();
}

void ceventthread::SetPaused(uint8_t paused) {
    paused_.store(paused ? 1 : 0);
    if (!paused) wake_.Set();
}

}  // namespace quorvane
