#pragma once
// A message target that records what it gets (thread-safe) and answers Sends through an optional
// handler; and a host list that records what is asked of it.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/host_list.h"
#include "engine/host_table.h"
#include "engine/host_view.h"
#include "engine/messages.h"

namespace quorvane::test {

class RecordingTarget : public MessageTarget {
public:
    std::function<int64_t(const EngineMessage&)> onSend;

    int64_t Send(EngineMessage m) override {
        {
            std::lock_guard lock(mutex_);
            messages_.push_back(m);
            sent_.push_back(true);
        }
        return onSend ? onSend(m) : 0;
    }
    void Post(EngineMessage m) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(m));
        sent_.push_back(false);
    }
    std::vector<EngineMessage> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<uint32_t> ids() const {
        std::lock_guard lock(mutex_);
        std::vector<uint32_t> out;
        for (const auto& m : messages_) out.push_back(m.message);
        return out;
    }
    // Messages other than the pass brackets.
    std::vector<EngineMessage> hostMessages() const {
        std::vector<EngineMessage> out;
        for (const auto& m : messages())
            if (m.message != WM_PASSBEGIN && m.message != WM_PASSEND) out.push_back(m);
        return out;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
        sent_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<EngineMessage> messages_;
    std::vector<bool> sent_;
};

class RecordingList : public HostListSink {
public:
    struct Call {
        std::string what;
        int row = -1;
        int column = -1;
        std::string text;
    };
    std::vector<Call> calls;
    void AddHostRow(const HostEntry& h) override { calls.push_back({"add", h.row, -1, h.ipText}); }
    void DeleteHostRow(int row) override { calls.push_back({"delete", row, -1, {}}); }
    void SetRowImage(int row, int image) override { calls.push_back({"image", row, image, {}}); }
    void RefreshNameCell(const HostEntry& h, int column) override { calls.push_back({"name", h.row, column, {}}); }
    void SetHostCell(const HostEntry& h, int column, std::string_view text) override {
        calls.push_back({"cell", h.row, column, std::string(text)});
    }
    void RedrawFirstCell(int row) override { calls.push_back({"redraw", row, -1, {}}); }
    std::vector<int> images() const {
        std::vector<int> out;
        for (const auto& c : calls)
            if (c.what == "image") out.push_back(c.column);
        return out;
    }
};

class RecordingEvents : public EventSink {
public:
    std::vector<MonitorEvent> events;
    void AddEvent(const MonitorEvent& e) override { events.push_back(e); }
};

}  // namespace quorvane::test
