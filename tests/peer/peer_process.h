#pragma once
// A peer program started by a test: fork/exec without a shell, output to a file, stopped by its
// PID (TERM, then KILL after a bounded wait) when the object goes.

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace quorvane::test {

inline std::string ReadWholeFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    ~PeerProcess() { Stop(); }

    // Starts program (an absolute path) with args; stdout and stderr go to outputFile.
    // False when fork fails; an exec failure shows as an early exit with code 127.
    bool Start(const std::string& program, const std::vector<std::string>& args, const std::filesystem::path& outputFile) {
        output_ = outputFile;
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = outputFile.string();
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
            setpgid(0, 0);  // keep terminal signals of the test run away from the peer
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        return true;
    }

    pid_t pid() const { return pid_; }

    // True while the process has not exited.
    bool Running() {
        if (pid_ <= 0) return false;
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == 0) return true;
        if (r == pid_) {
            exitStatus_ = status;
            pid_ = -1;
        }
        return false;
    }

    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 100 && Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

    std::string Output() const { return ReadWholeFile(output_); }
    int exitStatus() const { return exitStatus_; }

private:
    pid_t pid_ = -1;
    int exitStatus_ = -1;
    std::filesystem::path output_;
};

}  // namespace quorvane::test
