#include "engine/message_loop.h"

namespace quorvane {

MessageLoop::~MessageLoop() {
    Quit();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    for (Item* item : queue_) {
        if (item->sent) {
            item->done = true;  // a blocked sender gets 0 rather than waiting forever
        } else {
            delete item;
        }
    }
    queue_.clear();
    doneCv_.notify_all();
}

bool MessageLoop::OnLoopThread() const {
    std::lock_guard lock(mutex_);
    return loopThread_ == std::this_thread::get_id();
}

void MessageLoop::Handle(Item& item) { item.result = handler_(item.message); }

int64_t MessageLoop::Send(EngineMessage message) {
    if (OnLoopThread()) return handler_(message);
    Item item{std::move(message), true, false, 0};
    std::unique_lock lock(mutex_);
    if (quit_) return 0;
    queue_.push_back(&item);
    cv_.notify_all();
    doneCv_.wait(lock, [&] { return item.done; });
    return item.result;
}

void MessageLoop::Post(EngineMessage message) {
    auto* item = new Item{std::move(message), false, false, 0};
    std::lock_guard lock(mutex_);
    if (quit_) {
        delete item;
        return;
    }
    queue_.push_back(item);
    cv_.notify_all();
}

size_t MessageLoop::ProcessPending() {
    size_t handled = 0;
    std::unique_lock lock(mutex_);
    loopThread_ = std::this_thread::get_id();
    while (!queue_.empty()) {
        Item* item = queue_.front();
        queue_.pop_front();
        lock.unlock();
        Handle(*item);
        lock.lock();
        ++handled;
        if (item->sent) {
            item->done = true;
            doneCv_.notify_all();
        } else {
            delete item;
        }
    }
    return handled;
}

void MessageLoop::AdoptCurrentThread() {
    std::lock_guard lock(mutex_);
    loopThread_ = std::this_thread::get_id();
}

void MessageLoop::Run() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            loopThread_ = std::this_thread::get_id();
            cv_.wait(lock, [&] { return quit_ || !queue_.empty(); });
            if (quit_) return;
        }
        ProcessPending();
    }
}

void MessageLoop::Start() {
    thread_ = std::thread([this] { Run(); });
}

void MessageLoop::Quit() {
    std::lock_guard lock(mutex_);
    quit_ = true;
    cv_.notify_all();
}

}  // namespace quorvane
