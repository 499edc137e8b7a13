#pragma once
// What the GUI tests share: the QApplication (offscreen), a wait that keeps the event loop
// running, the collected complaints of QAbstractItemModelTester, a fake engine, and helpers that
// fill host table slots as the reply receiver would.

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/host_table.h"
#include "ui/engine_control.h"

namespace quorvane::test {

// Runs the event loop until pred holds or timeoutMs passed; returns pred's last value.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);
// Lets queued events run for a moment.
void Spin(int ms = 20);

// Messages QAbstractItemModelTester (and Qt's warnings about models) produced since the last
// call; a correct model leaves this empty.
QStringList TakeModelTesterComplaints();

class FakeEngine final : public EngineControl {
public:
    int Start() override {
        ++starts;
        return 0;
    }
    const std::atomic<uint8_t>& serviceStopped() const override { return stopped; }
    void SetServiceStopped(bool s) override { stopped.store(s ? 1 : 0); }
    bool TableEdit(const std::function<void()>& edit, const std::function<void()>& pump) override {
        if (editing) return false;
        editing = true;
        ++tableEdits;
        for (int i = 0; i < pumpRounds; ++i) pump();
        edit();
        editing = false;
        return true;
    }
    bool Shutdown(const std::function<void()>& save) override {
        if (closingFlag) return false;
        closingFlag = true;
        ++shutdowns;
        save();
        return true;
    }
    bool closing() const override { return closingFlag; }

    std::atomic<uint8_t> stopped{0};
    int starts = 0;
    int tableEdits = 0;
    int shutdowns = 0;
    int pumpRounds = 1;
    bool editing = false;
    bool closingFlag = false;
};

// A host as the receiver leaves it before WM_HOSTFOUND: address "a.b.c.d" given a slot,
// names and MAC stored, state Answering, startup pending. Returns the slot's entry.
struct HostSetup {
    HostSetup(std::string address_, std::string hostName_, std::string group_ = "WORKGROUP", std::string user_ = {})
        : address(std::move(address_)), hostName(std::move(hostName_)), group(std::move(group_)), user(std::move(user_)) {}
    std::string address;
    std::string hostName;
    std::string group;
    std::string user;
    std::array<uint8_t, 6> mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
};
HostEntry& AddSlot(HostTable& table, const HostSetup& setup);
uint32_t Address(const std::string& dotted);
// Latin-1 texts as a list (the build forbids implicit conversions from char strings).
QStringList Strings(std::initializer_list<const char*> texts);

}  // namespace quorvane::test
