#pragma once
// Network namespaces for peer tests (root only). A lab is two fresh namespaces joined by a veth
// pair: "near" (where the test opens its sockets, through WithNamespace) and "far" (where a peer
// runs, through Spawn). Nothing is added to the namespace the tests run in, so no traffic can
// reach a real network. Names carry the process id, so parallel test programs do not collide.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane::test {

// Runs a program with arguments (no shell); returns its exit status, or -1.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

class NetnsLab {
public:
    // near/far addresses with prefix, e.g. "10.231.0.1/24" and "10.231.0.2/24".
    NetnsLab(const std::string& tag, const std::string& nearCidr, const std::string& farCidr);
    ~NetnsLab();
    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;

    // False (with error()) when the namespaces could not be made, e.g. without root.
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& nearName() const { return near_; }
    const std::string& farName() const { return far_; }
    const std::string& farInterface() const { return vethFar_; }

    // Runs fn on the calling thread inside the near namespace (sockets made there stay there).
    bool WithNamespace(const std::function<void()>& fn) const;
    // Starts argv inside the far namespace; returns its pid (or -1). stdout/stderr go to logPath.
    pid_t Spawn(const std::vector<std::string>& argv, const std::string& logPath) const;
    // Sets the far end's link down or up (a peer that falls silent).
    bool SetFarLink(bool up) const;

private:
    bool Ip(const std::vector<std::string>& args);
    std::string near_, far_, vethNear_, vethFar_, error_;
    bool ok_ = false;
};

// Sends SIGTERM to pid, waits up to timeoutMs, then SIGKILL; reaps it.
void StopProcess(pid_t pid, int timeoutMs = 5000);

}  // namespace quorvane::test
