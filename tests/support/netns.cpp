#include "tests/support/netns.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace quorvane::test {

namespace {
std::vector<char*> Argv(const std::vector<std::string>& args) {
    std::vector<char*> v;
    for (const std::string& a : args) v.push_back(const_cast<char*>(a.c_str()));
    v.push_back(nullptr);
    return v;
}
}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return -1;
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        dup2(pipefd[1], 1);
        dup2(pipefd[1], 2);
        std::vector<char*> v = Argv(argv);
        execvp(v[0], v.data());
        _exit(127);
    }
    close(pipefd[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(pipefd[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(pipefd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

NetnsLab::NetnsLab(const std::string& tag, const std::string& nearCidr, const std::string& farCidr) {
    const std::string id = tag + std::to_string(getpid());
    near_ = "qvn-" + id;
    far_ = "qvf-" + id;
    // Interface names are limited to 15 characters.
    vethNear_ = ("qn" + std::to_string(getpid()) + tag).substr(0, 15);
    vethFar_ = ("qf" + std::to_string(getpid()) + tag).substr(0, 15);
    ok_ = Ip({"netns", "add", near_}) && Ip({"netns", "add", far_}) &&
          Ip({"link", "add", vethNear_, "netns", near_, "type", "veth", "peer", "name", vethFar_, "netns", far_}) &&
          Ip({"-n", near_, "link", "set", "lo", "up"}) && Ip({"-n", far_, "link", "set", "lo", "up"}) &&
          Ip({"-n", near_, "addr", "add", nearCidr, "dev", vethNear_}) &&
          Ip({"-n", far_, "addr", "add", farCidr, "dev", vethFar_}) &&
          Ip({"-n", near_, "link", "set", vethNear_, "up"}) && Ip({"-n", far_, "link", "set", vethFar_, "up"});
}

NetnsLab::~NetnsLab() {
    std::string ignored;
    RunProgram({"ip", "netns", "del", near_}, &ignored);
    RunProgram({"ip", "netns", "del", far_}, &ignored);
}

bool NetnsLab::Ip(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"ip"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    if (RunProgram(argv, &out) == 0) return true;
    error_ = "ip";
    for (const auto& a : args) error_ += " " + a;
    error_ += ": " + out;
    return false;
}

bool NetnsLab::WithNamespace(const std::function<void()>& fn) const {
    const int self = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = open(("/run/netns/" + near_).c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = self >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (ok) {
        fn();
        ok = setns(self, CLONE_NEWNET) == 0;
    }
    if (self >= 0) close(self);
    if (target >= 0) close(target);
    return ok;
}

pid_t NetnsLab::Spawn(const std::vector<std::string>& argv, const std::string& logPath) const {
    std::vector<std::string> full{"ip", "netns", "exec", far_};
    full.insert(full.end(), argv.begin(), argv.end());
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setsid();  // keeps a peer's signals to its own group away from the test
    const int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
    }
    std::vector<char*> v = Argv(full);
    execvp(v[0], v.data());
    _exit(127);
}

bool NetnsLab::SetFarLink(bool up) const {
    std::string out;
    return RunProgram({"ip", "-n", far_, "link", "set", vethFar_, up ? "up" : "down"}, &out) == 0;
}

void StopProcess(pid_t pid, int timeoutMs) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

}  // namespace quorvane::test
