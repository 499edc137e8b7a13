#include "ui/message_bridge.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <thread>

namespace quorvane {

namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

QtMessageTarget::QtMessageTarget(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), ownerThread_(std::this_thread::get_id()) {}

QtMessageTarget::~QtMessageTarget() { Close(); }

void QtMessageTarget::SetHandler(Handler handler) { handler_ = std::move(handler); }

bool QtMessageTarget::OnOwnThread() const { return std::this_thread::get_id() == ownerThread_; }

void QtMessageTarget::WakeLocked() {
    if (wakePending_ || closed_) return;
    wakePending_ = true;
    QCoreApplication::postEvent(this, new QEvent(kWakeEvent));
}

int64_t QtMessageTarget::Send(EngineMessage message) {
    if (OnOwnThread()) return handler_ ? handler_(message) : 0;
    SentItem item{std::move(message), 0, false};
    std::unique_lock lock(mutex_);
    if (closed_) return 0;
    sent_.push_back(&item);
    sendWaiting_.store(true, std::memory_order_release);
    WakeLocked();
    doneCv_.wait(lock, [&] { return item.done; });
    return item.result;
}

void QtMessageTarget::Post(EngineMessage message) {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    posted_.push_back(std::move(message));
    WakeLocked();
}

size_t QtMessageTarget::ProcessPendingSends() {
    size_t handled = 0;
    std::unique_lock lock(mutex_);
    while (!sent_.empty()) {
        SentItem* item = sent_.front();
        sent_.pop_front();
        if (sent_.empty()) sendWaiting_.store(false, std::memory_order_release);
        lock.unlock();
        const int64_t result = handler_ ? handler_(item->message) : 0;
        lock.lock();
        // The sender may leave as soon as done is set and the lock is free: touch item no more.
        item->result = result;
        item->done = true;
        doneCv_.notify_all();
        ++handled;
    }
    return handled;
}

bool QtMessageTarget::HandleOnePost() {
    EngineMessage message;
    {
        std::lock_guard lock(mutex_);
        if (posted_.empty()) return false;
        message = std::move(posted_.front());
        posted_.pop_front();
    }
    if (handler_) handler_(message);
    return true;
}

size_t QtMessageTarget::ProcessAll() {
    size_t handled = 0;
    for (;;) {
        handled += ProcessPendingSends();
        if (!HandleOnePost()) break;
        ++handled;
    }
    return handled;
}

void QtMessageTarget::HandleSlice() {
    QElapsedTimer clock;
    clock.start();
    const qint64 budgetNs = std::chrono::duration_cast<std::chrono::nanoseconds>(sliceBudget_).count();
    ProcessPendingSends();
    for (unsigned n = 1;; ++n) {
        if (sendWaiting_.load(std::memory_order_acquire)) ProcessPendingSends();
        if (!HandleOnePost()) break;
        // Reading the clock costs more than a typical message: look every few messages.
        if ((n & 15u) == 0 && clock.nsecsElapsed() >= budgetNs) break;
    }
    ProcessPendingSends();
    std::lock_guard lock(mutex_);
    if (!posted_.empty() || !sent_.empty()) WakeLocked();
}

bool QtMessageTarget::event(QEvent* e) {
    if (e->type() != kWakeEvent) return QObject::event(e);
    {
        std::lock_guard lock(mutex_);
        wakePending_ = false;
    }
    HandleSlice();
    return true;
}

void QtMessageTarget::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    posted_.clear();
    for (SentItem* item : sent_) item->done = true;  // the sender gets 0
    sent_.clear();
    sendWaiting_.store(false, std::memory_order_release);
    doneCv_.notify_all();
}

size_t QtMessageTarget::pendingPosts() const {
    std::lock_guard lock(mutex_);
    return posted_.size();
}

size_t QtMessageTarget::pendingSends() const {
    std::lock_guard lock(mutex_);
    return sent_.size();
}

}  // namespace quorvane
