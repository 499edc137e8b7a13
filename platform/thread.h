#pragma once
// An operating-system thread that is created suspended, like the kernel's CREATE_SUSPENDED
// threads: its body runs only after Resume. A thread cannot be killed safely, so a join that
// times out detaches the thread and abandons it; whatever the body refers to must then stay
// alive until the process ends.

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace quorvane {

class Thread {
public:
    enum class JoinResult { NoThread, Joined, Abandoned };

    explicit Thread(std::function<int()> body);
    // A thread never resumed is released without running its body; a running one is joined.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void Resume();
    // Waits at most timeoutMs for the body to return. Abandoned: it did not; the thread is detached.
    JoinResult Join(uint32_t timeoutMs);
    bool Finished() const;
    int ExitCode() const;
    std::thread::id Id() const { return id_; }

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
    std::thread::id id_;
};

}  // namespace quorvane
