// SaveSettings and LoadSettings of the whole configuration with a host table of 254 hosts (a /24)
// and of 65,536 hosts (a /16), each host holding a 200-byte reply. The registry file lives in a
// temporary folder on the real disk, so every save includes its syncs. Target: a /16 saves and
// loads in under 1 s each.

#include <arpa/inet.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/host_table.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"

namespace {

using namespace quorvane;

constexpr uint16_t kReplyBytes = 200;

// A folder of our own under the temporary folder, removed at exit.
const std::string& BenchDir() {
    static const std::string dir = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "quorvane-store-bench-XXXXXX").string();
        if (!mkdtemp(templ.data())) std::abort();
        std::atexit([] { std::filesystem::remove_all(BenchDir()); });
        return templ;
    }();
    return dir;
}

std::vector<IpSegment> SegmentFor(size_t hosts) {
    std::vector<IpSegment> segs(1);
    segs[0].first = htonl(0x0A000000u + (hosts == kHostSlots ? 0u : 1u));
    segs[0].end = htonl(0x0A000000u + (hosts == kHostSlots ? 0xFFFFu : static_cast<uint32_t>(hosts)));
    return segs;
}

std::unique_ptr<HostTable> FilledTable(size_t hosts) {
    auto table = std::make_unique<HostTable>();
    auto segs = SegmentFor(hosts);
    table->ApplySegments(segs, 0, 1);
    for (size_t i = 0; i < table->highWater(); ++i) {
        HostEntry& h = table->slot(i);
        h.mac = {0x00, 0x1B, 0x21, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        h.setState(HostState::Up);
        h.setFlagBits(kHostListed, true);
        h.firstFoundTime = h.startupTime = 1700000000;
        std::memcpy(h.hostName.data(), "WORKSTATION    ", 15);
        std::memcpy(h.groupName.data(), "WORKGROUP      ", 15);
        h.savedReply.reset(new uint8_t[kReplyBytes]);
        std::memset(h.savedReply.get(), static_cast<int>(i), kReplyBytes);
        h.savedReplyLength = kReplyBytes;
        h.savedReplyCapacity = kReplyBytes;
    }
    return table;
}

AppSettings SettingsFor(size_t hosts) {
    AppSettings s;
    ApplyStartupDefaults(s, Ipv4(10, 0, 0, 1));
    s.segments = SegmentFor(hosts);
    return s;
}

std::string PathFor(size_t hosts) { return BenchDir() + "/" + std::to_string(hosts) + "/registry.reg"; }

double FileBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0.0;
}

// A save at exit: a store that has not built a stream yet.
void BM_SaveSettings(benchmark::State& state) {
    const size_t hosts = static_cast<size_t>(state.range(0));
    auto table = FilledTable(hosts);
    AppSettings settings = SettingsFor(hosts);
    FileRegistry reg(PathFor(hosts));
    size_t stream = 0;
    for (auto _ : state) {
        SettingsStore store(settings, table.get(), reg);
        if (store.SaveSettings() != 1) state.SkipWithError("save failed");
        stream = store.buffer().used();
    }
    state.counters["hosts"] = static_cast<double>(table->occupiedCount());
    state.counters["stream_bytes"] = static_cast<double>(stream);
    state.counters["file_bytes"] = FileBytes(PathFor(hosts));
}
BENCHMARK(BM_SaveSettings)->Arg(254)->Arg(65536)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// A load at start-up: a fresh store into an empty table.
void BM_LoadSettings(benchmark::State& state) {
    const size_t hosts = static_cast<size_t>(state.range(0));
    const std::string path = PathFor(hosts);
    {
        auto table = FilledTable(hosts);
        AppSettings settings = SettingsFor(hosts);
        FileRegistry reg(path);
        if (SettingsStore(settings, table.get(), reg).SaveSettings() != 1) state.SkipWithError("save failed");
    }
    FileRegistry reg(path);
    for (auto _ : state) {
        state.PauseTiming();
        auto table = std::make_unique<HostTable>();
        AppSettings settings;
        ApplyStartupDefaults(settings, Ipv4(10, 0, 0, 1));
        state.ResumeTiming();
        SettingsStore store(settings, table.get(), reg);
        if (store.LoadSettings() != 0 || table->occupiedCount() != hosts) state.SkipWithError("load failed");
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
    state.counters["file_bytes"] = FileBytes(path);
}
BENCHMARK(BM_LoadSettings)->Arg(254)->Arg(65536)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
