// The record walk of LoadSettings over arbitrary streams: nothing may crash or read out of
// bounds, the lists stay within their limits, and whatever was loaded survives a save and a load
// unchanged.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/fake_registry.h"
#include "platform/net.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"

namespace {

using namespace quorvane;

// Keeps the host payload it is given and writes it back, as a table would.
class EchoHosts final : public HostPersistence {
public:
    std::vector<uint8_t> payload;
    uint32_t occupiedCount() const override { return 0; }
    bool SaveHosts(StreamBuffer& out) override { return out.AppendGrowing(payload.data(), payload.size()); }
    uint32_t LoadHosts(std::span<const uint8_t> p) override {
        payload.assign(p.begin(), p.end());
        return 0;
    }
};

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
    FakeRegistry reg;
    AppSettings s = Startup();
    EchoHosts hosts;
    SettingsStore store(s, &hosts, reg);
    Check(store.WriteBlob(data, size) == 1);
    Check(store.LoadSettings() == 0);

    Check(s.segments.size() <= kMaxSegments);
    Check(s.syslogServers.size() <= kMaxSyslogServers);
    Check(s.reservedText1.size() <= 255 && s.reservedText2.size() <= 255);
    Check(s.messengerFrom.size() <= 255 && s.messengerTestText.size() <= 255);

    // What was loaded is stored and loaded back as it is.
    Check(store.SaveSettings() == 1);
    AppSettings again = Startup();
    EchoHosts hostsAgain;
    Check(SettingsStore(again, &hostsAgain, reg).LoadSettings() == 0);
    // The one value a load changes: the general block's word at offset 70, 0 becomes 3.
    if (s.generalReserved70 == 0) s.generalReserved70 = 3;
    Check(again == s);
    Check(hostsAgain.payload == hosts.payload);
    return 0;
}
