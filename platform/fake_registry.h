#pragma once
// An in-memory registry for tests: binary values only, case-insensitive names, every opening a
// snapshot committed at once. It counts openings and commits and can be told to fail them.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace quorvane {

class FakeRegistry final : public Registry {
public:
    struct Value {
        std::string name;
        std::vector<uint8_t> data;
    };
    using Key = std::map<std::string, Value>;  // lower-case name -> value

    std::unique_ptr<RegistryKey> Open(std::string_view keyPath, bool create, OpenError* error = nullptr) override;

    // Test access to the stored keys.
    bool HasKey(std::string_view keyPath) const;
    std::optional<std::vector<uint8_t>> Get(std::string_view keyPath, std::string_view name) const;
    void Put(std::string_view keyPath, std::string_view name, std::vector<uint8_t> data);
    void Remove(std::string_view keyPath, std::string_view name);
    std::vector<std::string> Names(std::string_view keyPath) const;

    int opens = 0;
    int commits = 0;
    bool failOpen = false;
    bool failCommit = false;

private:
    friend class FakeRegistryKey;
    std::map<std::string, Key> keys_;  // lower-case path -> key
};

}  // namespace quorvane
