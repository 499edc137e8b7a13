#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/vendor_table.h"

namespace {

// Lookups of MACs spread over the whole table (found and not found).
void BM_LookupVendor(benchmark::State& state) {
    std::mt19937 rng(42);
    std::vector<quorvane::MacAddress> macs(4096);
    const auto table = quorvane::VendorTable();
    for (size_t i = 0; i < macs.size(); ++i) {
        if (i % 4 == 3) {
            for (auto& b : macs[i]) b = static_cast<uint8_t>(rng());
        } else {
            const auto& e = table[rng() % table.size()];
            macs[i] = {e.low[0], e.low[1], e.low[2], 0x12, 0x34, 0x56};
        }
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(quorvane::LookupVendor(macs[i++ & 4095]));
    }
}
BENCHMARK(BM_LookupVendor);

}  // namespace
