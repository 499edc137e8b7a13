#pragma once
// The registry stand-in: keys with named binary values, kept in one text file in the Windows
// registry export format (REGEDIT4), so that a user can read and edit it and import it into a real
// registry. Key paths and value names compare without regard to case, as in the registry.
//
// A key is read and written through one opening: Open reads the file once and hands out a
// snapshot of the key; changes made through it are stored all at once by Commit, which replaces
// the file atomically (a temporary file in the same folder, synced, renamed over the old one,
// then the folder synced). After a crash at any moment the file holds the old or the new content.
//
// A file that cannot be parsed is never overwritten: it is moved aside to "<file>.bad" (or
// "<file>.bad.1" and so on, never replacing an earlier one) and the key reads as unreadable.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_ops.h"

namespace quorvane {

// One opening of a key.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    // The data of a binary value; nullopt when the key has no such value or it is of another
    // type. The span stays valid until the next change made through this opening.
    virtual std::optional<std::span<const uint8_t>> QueryBinary(std::string_view name) const = 0;
    virtual void SetBinary(std::string_view name, std::span<const uint8_t> data) = 0;
    virtual void DeleteValue(std::string_view name) = 0;
    virtual std::vector<std::string> ValueNames() const = 0;
    // Stores every change made through this opening at once. False when nothing was stored: the
    // stored key is then as it was before.
    virtual bool Commit() = 0;
};

class Registry {
public:
    enum class OpenError { none, missing, unreadable };
    virtual ~Registry() = default;
    // Opens a key by its full path ("HKEY_LOCAL_MACHINE\\Software\\..."). A key that does not
    // exist is `missing`, unless create is set: then it is opened empty and exists once committed.
    // Returns null on failure, with the reason in *error when given.
    virtual std::unique_ptr<RegistryKey> Open(std::string_view keyPath, bool create,
                                              OpenError* error = nullptr) = 0;
};

// --- The REGEDIT4 text format -------------------------------------------------------------------

// A value as read from the file. Binary values ("hex:" or "hex(3):") are decoded; values of the
// other types are kept as the text after '=' (continuation lines joined) and written back as they
// came.
struct RegFileValue {
    std::string name;
    bool isDefault = false;  // the key's unnamed value, written "@"
    bool binary = false;
    std::vector<uint8_t> data;  // binary values
    std::string text;           // other values
    bool removed = false;       // deleted through a key opening; not written
};

struct RegFileKey {
    std::string path;  // as written between the brackets
    std::vector<RegFileValue> values;
    std::unordered_map<std::string, size_t> index;  // lower-case name -> values[]; "" for the default

    RegFileValue* Find(std::string_view name);
    const RegFileValue* Find(std::string_view name) const;
    RegFileValue& Add(std::string_view name);
};

struct RegFile {
    std::vector<RegFileKey> keys;
    RegFileKey* FindKey(std::string_view path);
};

// Reads REGEDIT4 text: the "REGEDIT4" first line, [key] headers, "name"=hex: values whose lines may
// be continued with a trailing backslash, other value types, blank lines and ';' comments. A key or
// value that appears twice is merged or replaced, as an import would. nullopt for anything else.
std::optional<RegFile> ParseRegedit4(std::string_view text);
// Writes the file as the registry editor exports it: CRLF line ends, binary values as
// comma-separated hex bytes wrapped with a trailing backslash before column 80, a blank line after
// every key. Comments of a parsed file are not kept.
std::string FormatRegedit4(const RegFile& file);

// --- The file-backed registry -------------------------------------------------------------------

inline constexpr size_t kMaxRegistryFile = size_t{1} << 30;  // larger files are not read

class FileRegistry final : public Registry {
public:
    explicit FileRegistry(std::string filePath, FileOps& ops = SystemFileOps());
    std::unique_ptr<RegistryKey> Open(std::string_view keyPath, bool create, OpenError* error = nullptr) override;

    const std::string& path() const { return path_; }
    // Where the last unreadable file was moved; empty if none was.
    const std::string& setAsidePath() const { return setAside_; }

    // Replaces the file with the formatted content, atomically. False leaves the old file.
    bool Store(const RegFile& file);

private:
    bool SetAside();
    std::string path_;
    FileOps& ops_;
    std::string setAside_;
};

// $XDG_CONFIG_HOME/quorvane/registry.reg (or ~/.config/quorvane/registry.reg).
std::string DefaultRegistryPath();

}  // namespace quorvane
