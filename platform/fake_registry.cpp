#include "platform/fake_registry.h"

namespace quorvane {

namespace {
std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}
}  // namespace

class FakeRegistryKey final : public RegistryKey {
public:
    FakeRegistryKey(FakeRegistry& registry, std::string path, FakeRegistry::Key snapshot)
        : registry_(registry), path_(std::move(path)), key_(std::move(snapshot)) {}

    std::optional<std::span<const uint8_t>> QueryBinary(std::string_view name) const override {
        auto it = key_.find(Lower(name));
        if (it == key_.end()) return std::nullopt;
        return std::span<const uint8_t>(it->second.data);
    }
    void SetBinary(std::string_view name, std::span<const uint8_t> data) override {
        auto& v = key_[Lower(name)];
        if (v.name.empty()) v.name = std::string(name);
        v.data.assign(data.begin(), data.end());
    }
    void DeleteValue(std::string_view name) override { key_.erase(Lower(name)); }
    std::vector<std::string> ValueNames() const override {
        std::vector<std::string> out;
        for (const auto& [lower, v] : key_) out.push_back(v.name);
        return out;
    }
    bool Commit() override {
        if (registry_.failCommit) return false;
        ++registry_.commits;
        registry_.keys_[path_] = key_;
        return true;
    }

private:
    FakeRegistry& registry_;
    std::string path_;
    FakeRegistry::Key key_;
};

std::unique_ptr<RegistryKey> FakeRegistry::Open(std::string_view keyPath, bool create, OpenError* error) {
    OpenError dummy;
    OpenError& err = error ? *error : dummy;
    err = OpenError::none;
    if (failOpen) {
        err = OpenError::unreadable;
        return nullptr;
    }
    const std::string path = Lower(keyPath);
    auto it = keys_.find(path);
    if (it == keys_.end() && !create) {
        err = OpenError::missing;
        return nullptr;
    }
    ++opens;
    return std::make_unique<FakeRegistryKey>(*this, path, it == keys_.end() ? Key{} : it->second);
}

bool FakeRegistry::HasKey(std::string_view keyPath) const { return keys_.contains(Lower(keyPath)); }

std::optional<std::vector<uint8_t>> FakeRegistry::Get(std::string_view keyPath, std::string_view name) const {
    auto k = keys_.find(Lower(keyPath));
    if (k == keys_.end()) return std::nullopt;
    auto v = k->second.find(Lower(name));
    if (v == k->second.end()) return std::nullopt;
    return v->second.data;
}

void FakeRegistry::Put(std::string_view keyPath, std::string_view name, std::vector<uint8_t> data) {
    keys_[Lower(keyPath)][Lower(name)] = Value{std::string(name), std::move(data)};
}

void FakeRegistry::Remove(std::string_view keyPath, std::string_view name) {
    auto k = keys_.find(Lower(keyPath));
    if (k != keys_.end()) k->second.erase(Lower(name));
}

std::vector<std::string> FakeRegistry::Names(std::string_view keyPath) const {
    std::vector<std::string> out;
    auto k = keys_.find(Lower(keyPath));
    if (k != keys_.end())
        for (const auto& [lower, v] : k->second) out.push_back(v.name);
    return out;
}

}  // namespace quorvane
