// Cost of handling one changed reply: parse plus name selection, on a real nmbd reply (7 names,
// 229 bytes; tests/engine/data/nmbd_node_status.bin), against a never-seen host (every value new)
// and against a host that already stores the reply's values (nothing new).

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "engine/nbt_codec.h"

namespace {

using namespace quorvane;

const std::vector<uint8_t>& Fixture() {
    static const std::vector<uint8_t> bytes = [] {
        const auto path = std::filesystem::path(__FILE__).parent_path().parent_path() /
                          "tests/engine/data/nmbd_node_status.bin";
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }();
    return bytes;
}

void ParseAndSelect(benchmark::State& state, bool known) {
    const std::vector<uint8_t>& d = Fixture();
    NodeStatusReply reply;
    if (d.empty() || !ParseNodeStatusReply(d, reply)) {
        state.SkipWithError("nmbd fixture missing or unreadable");
        return;
    }
    StoredNames stored;
    if (known) {
        const SelectedNames s = SelectNames(reply, stored);
        stored.groupName = s.groupName.value_or(stored.groupName);
        stored.hostName = s.hostName.value_or(stored.hostName);
        stored.userName = s.userName.value_or(stored.userName);
        stored.mac = reply.unitId.value_or(stored.mac);
        if (SelectNames(reply, stored).any()) {
            state.SkipWithError("stored names do not match the fixture");
            return;
        }
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(ParseNodeStatusReply(d, reply));
        SelectedNames s = SelectNames(reply, stored);
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ParseSelect_NeverSeen(benchmark::State& state) { ParseAndSelect(state, false); }
void BM_ParseSelect_Known(benchmark::State& state) { ParseAndSelect(state, true); }
BENCHMARK(BM_ParseSelect_NeverSeen);
BENCHMARK(BM_ParseSelect_Known);

}  // namespace
