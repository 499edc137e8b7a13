#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/host_table.h"

namespace {

using quorvane::HostTable;
using quorvane::IpSegment;

// Frees every slot from the top down, leaving the table empty again (not timed).
void Empty(HostTable& table) {
    for (uint32_t hw = table.highWater(); hw > 0; hw = table.highWater()) table.RemoveHost(table.slot(hw - 1), true, nullptr);
}

// ApplySegments of one segment on an empty table: range(0) = prefix length (24 or 16).
void BM_ApplySegments(benchmark::State& state) {
    const uint32_t hostBits = 32 - static_cast<uint32_t>(state.range(0));
    const uint32_t network = 0x0A000000;  // 10.0.0.0
    auto table = std::make_unique<HostTable>();
    for (auto _ : state) {
        std::vector<IpSegment> segs(1);
        segs[0].first = htonl(network + 1);
        segs[0].end = htonl(network + (1u << hostBits) - 2);
        benchmark::DoNotOptimize(table->ApplySegments(segs, 0, 1));
        state.PauseTiming();
        if (table->occupiedCount() != (1u << hostBits) - 2) state.SkipWithError("wrong slot count");
        Empty(*table);
        state.ResumeTiming();
    }
    state.counters["hosts"] = static_cast<double>((1u << hostBits) - 2);
}
BENCHMARK(BM_ApplySegments)->Arg(24)->Arg(16)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

// A full table: 65536 hosts, each with a saved reply of 200 bytes.
std::unique_ptr<HostTable> FullTable() {
    auto table = std::make_unique<HostTable>();
    std::vector<IpSegment> segs(1);
    segs[0].first = htonl(0x0A000000);
    segs[0].end = htonl(0x0A00FFFF);
    table->ApplySegments(segs, 0, 1);
    for (size_t i = 0; i < quorvane::kHostSlots; ++i) {
        quorvane::HostEntry& h = table->slot(i);
        h.savedReply.reset(new uint8_t[200]);
        std::memset(h.savedReply.get(), static_cast<int>(i), 200);
        h.savedReplyLength = 200;
        h.savedReplyCapacity = 200;
    }
    return table;
}

void BM_SaveHosts(benchmark::State& state) {
    auto table = FullTable();
    size_t bytes = 0;
    for (auto _ : state) {
        quorvane::StreamBuffer out;  // grown by the save itself, as at exit
        if (!table->SaveHosts(out)) state.SkipWithError("save refused");
        bytes = out.used();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}
BENCHMARK(BM_SaveHosts)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

void BM_LoadHosts(benchmark::State& state) {
    auto source = FullTable();
    quorvane::StreamBuffer payload;
    source->SaveHosts(payload);
    source.reset();
    for (auto _ : state) {
        state.PauseTiming();
        auto table = std::make_unique<HostTable>();  // start-up loads into an empty table
        state.ResumeTiming();
        if (table->LoadHosts(payload.bytes()) != quorvane::kHostSlots) state.SkipWithError("load short");
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(payload.used() * state.iterations()));
}
BENCHMARK(BM_LoadHosts)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

}  // namespace
