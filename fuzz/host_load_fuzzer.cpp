// LoadHosts over arbitrary payloads: never reads past the input, keeps the table's invariants,
// and what it loaded saves and loads back to the same table.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "engine/host_table.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorvane;
    static auto table = std::make_unique<HostTable>();  // LoadHosts replaces every slot
    static auto copy = std::make_unique<HostTable>();

    const uint32_t loaded = table->LoadHosts(std::span<const uint8_t>(data, size));
    if (size < 4) return 0;
    Check(loaded == table->occupiedCount() && loaded == table->highWater());
    for (uint32_t i = 0; i < loaded; ++i) Check(table->slot(i).ipv4() != 0);

    StreamBuffer out;
    Check(table->SaveHosts(out));
    Check(copy->LoadHosts(out.bytes()) == loaded);
    StreamBuffer again;
    Check(copy->SaveHosts(again));
    Check(again.used() == out.used());
    for (size_t i = 0; i < out.used(); ++i) Check(out.data()[i] == again.data()[i]);
    return 0;
}
