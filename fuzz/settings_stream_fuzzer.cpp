// The record walk of LoadSettings over arbitrary streams: nothing may crash or read out of
// bounds, the lists stay within their limits, and whatever was loaded survives a save and a load
// unchanged.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "engine/host_table.h"
#include "platform/fake_registry.h"
#include "platform/net.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"

namespace {

using namespace quorvane;

AppSettings Startup() {
    AppSettings s;
    ApplyStartupDefaults(s, Ipv4(10, 0, 0, 5));
    return s;
}

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Tables are large; a load replaces every slot, so two are enough for all runs.
    static auto hosts = std::make_unique<HostTable>();
    static auto hostsAgain = std::make_unique<HostTable>();

    FakeRegistry reg;
    AppSettings s = Startup();
    SettingsStore store(s, hosts.get(), reg);
    Check(store.WriteBlob(data, size) == 1);
    Check(store.LoadSettings() == 0);

    Check(s.segments.size() <= kMaxSegments);
    Check(s.syslogServers.size() <= kMaxSyslogServers);
    Check(s.reservedText1.size() <= 255 && s.reservedText2.size() <= 255);
    Check(s.messengerFrom.size() <= 255 && s.messengerTestText.size() <= 255);

    // What was loaded is stored and loaded back as it is, and from then on a save and a load
    // change nothing.
    Check(store.SaveSettings() == 1);
    AppSettings again = Startup();
    SettingsStore second(again, hostsAgain.get(), reg);
    Check(second.LoadSettings() == 0);
    // The one value a load changes: the general block's word at offset 70, 0 becomes 3.
    if (s.generalReserved70 == 0) s.generalReserved70 = 3;
    Check(again == s);
    Check(hostsAgain->occupiedCount() == hosts->occupiedCount());
    Check(second.SaveSettings() == 1);
    const std::vector<uint8_t> saved(second.buffer().bytes().begin(), second.buffer().bytes().end());
    AppSettings third = Startup();
    SettingsStore last(third, hosts.get(), reg);
    Check(last.LoadSettings() == 0 && third == again);
    Check(last.SaveSettings() == 1);
    const auto resaved = last.buffer().bytes();
    Check(resaved.size() == saved.size() && std::equal(resaved.begin(), resaved.end(), saved.begin()));
    return 0;
}
