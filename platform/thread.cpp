#include "platform/thread.h"

#include <atomic>

#include "platform/sync.h"

namespace quorvane {

struct Thread::State {
    Event resumed{Event::Reset::Manual};
    Event finished{Event::Reset::Manual};
    std::atomic<bool> cancelled{false};
    std::atomic<int> exitCode{0};
    std::function<int()> body;
};

Thread::Thread(std::function<int()> body) : state_(std::make_shared<State>()) {
    state_->body = std::move(body);
    // The thread owns a reference to the state, so an abandoned thread never touches freed memory
    // of its own; the body's captures are the owner's responsibility.
    thread_ = std::thread([state = state_] {
        state->resumed.Wait();
        if (!state->cancelled.load()) state->exitCode.store(state->body());
        state->finished.Set();
    });
    id_ = thread_.get_id();
}

Thread::~Thread() {
    if (!thread_.joinable()) return;
    if (!state_->resumed.IsSet()) {
        state_->cancelled.store(true);
        state_->resumed.Set();
    }
    thread_.join();
}

void Thread::Resume() { state_->resumed.Set(); }

Thread::JoinResult Thread::Join(uint32_t timeoutMs) {
    if (!thread_.joinable()) return JoinResult::NoThread;
    if (!state_->resumed.IsSet()) {
        // Never started: release it without running the body rather than leave it parked.
        state_->cancelled.store(true);
        state_->resumed.Set();
    }
    if (state_->finished.Wait(timeoutMs)) {
        thread_.join();
        return JoinResult::Joined;
    }
    thread_.detach();
    return JoinResult::Abandoned;
}

bool Thread::Finished() const { return state_->finished.IsSet(); }

int Thread::ExitCode() const { return state_->exitCode.load(); }

}  // namespace quorvane
