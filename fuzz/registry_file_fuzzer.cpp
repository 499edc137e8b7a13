// The REGEDIT4 reader over arbitrary text (the file is the user's to edit): nothing may crash,
// and what it reads is written so that it reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry.h"

namespace {
void Check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorvane;
    const auto parsed = ParseRegedit4(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed) return 0;
    const auto again = ParseRegedit4(FormatRegedit4(*parsed));
    Check(again.has_value());
    Check(again->keys.size() == parsed->keys.size());
    for (size_t k = 0; k < parsed->keys.size(); ++k) {
        const RegFileKey& a = parsed->keys[k];
        const RegFileKey& b = again->keys[k];
        Check(a.path == b.path && a.values.size() == b.values.size());
        for (size_t i = 0; i < a.values.size(); ++i) {
            const RegFileValue& x = a.values[i];
            const RegFileValue& y = b.values[i];
            Check(x.name == y.name && x.binary == y.binary && x.data == y.data);
            Check(x.binary || x.text == y.text);
        }
    }
    return 0;
}
