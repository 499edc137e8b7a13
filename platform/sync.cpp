#include "platform/sync.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace quorvane {

void Event::Set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    if (manual_) {
        cv_.notify_all();
    } else {
        cv_.notify_one();
    }
}

void Event::Clear() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

bool Event::Wait(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (timeoutMs == kInfinite) {
        cv_.wait(lock, [this] { return set_; });
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; })) {
        return false;
    }
    if (!manual_) set_ = false;
    return true;
}

PollEvent::PollEvent() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PollEvent::~PollEvent() {
    if (fd_ >= 0) close(fd_);
}

void PollEvent::Set() {
    if (fd_ < 0) return;
    const uint64_t one = 1;
    ssize_t r;
    do {
        r = write(fd_, &one, sizeof one);
    } while (r < 0 && errno == EINTR);
}

bool PollEvent::Consume() {
    if (fd_ < 0) return false;
    uint64_t value = 0;
    ssize_t r;
    do {
        r = read(fd_, &value, sizeof value);
    } while (r < 0 && errno == EINTR);
    return r == static_cast<ssize_t>(sizeof value) && value != 0;
}

}  // namespace quorvane
