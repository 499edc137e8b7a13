#include "platform/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/config_dir.h"

namespace quorvane {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
// The registry editor writes CRLF and its import is the point of the format; Linux tools read it
// as well, and the reader takes either.
constexpr std::string_view kEol = "\r\n";
constexpr size_t kWrapAt = 77;        // a hex line is wrapped once it reaches this column (78 wide with the backslash)...
constexpr std::string_view kIndent = "  ";  // ...and goes on indented by two spaces
constexpr int kMaxSetAside = 100;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = Lower(c);
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Physical lines of the text, '\n' separated ('\r' before it is trimmed with the blanks).
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool Next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        const size_t nl = text_.find('\n', pos_);
        const size_t end = nl == std::string_view::npos ? text_.size() : nl;
        line = text_.substr(pos_, end - pos_);
        pos_ = nl == std::string_view::npos ? text_.size() : nl + 1;
        return true;
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

// A quoted text at the start of s with \\ and \" escapes; s is advanced past the closing quote.
bool ParseQuoted(std::string_view& s, std::string& out) {
    if (s.empty() || s.front() != '"') return false;
    out.clear();
    size_t i = 1;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < s.size()) {
            out.push_back(s[++i]);
        } else {
            out.push_back(c);
        }
    }
    return false;
}

// Comma-separated hex bytes after "hex:" or "hex(n):", continued over lines that end in a
// backslash. `first` is the rest of the value's first line.
bool ParseHexList(std::string_view first, Lines& lines, std::vector<uint8_t>& out, std::string* raw) {
    std::string_view seg = first;
    bool needComma = false;
    for (;;) {
        seg = TrimRight(seg);
        bool continued = false;
        if (!seg.empty() && seg.back() == '\\') {
            continued = true;
            seg.remove_suffix(1);
        }
        if (raw) raw->append(TrimRight(seg));
        size_t i = 0;
        for (;;) {
            while (i < seg.size() && Blank(seg[i])) ++i;
            if (i == seg.size()) break;
            if (needComma) {
                if (seg[i] != ',') return false;
                ++i;
                needComma = false;
                continue;
            }
            const int hi = HexDigit(seg[i]);
            if (hi < 0) return false;
            ++i;
            int value = hi;
            if (i < seg.size()) {
                const int lo = HexDigit(seg[i]);
                if (lo >= 0) {
                    value = hi * 16 + lo;
                    ++i;
                }
            }
            out.push_back(static_cast<uint8_t>(value));
            needComma = true;
        }
        if (!continued) return true;
        std::string_view next;
        if (!lines.Next(next)) return true;  // a backslash on the last line continues nothing
        seg = TrimLeft(next);
    }
}

// The value part after '=': fills v (binary data, or the text of another type).
bool ParseValueData(std::string_view data, Lines& lines, RegFileValue& v) {
    data = TrimLeft(data);
    v.binary = false;
    v.data.clear();
    v.text.clear();
    if (StartsNoCase(data, "hex:")) {
        v.binary = true;
        return ParseHexList(data.substr(4), lines, v.data, nullptr);
    }
    if (StartsNoCase(data, "hex(")) {
        const size_t close = data.find("):");
        if (close == std::string_view::npos || close == 4) return false;
        if (close > 12) return false;  // a type is a 32-bit number
        uint32_t type = 0;
        for (size_t i = 4; i < close; ++i) {
            const int d = HexDigit(data[i]);
            if (d < 0) return false;
            type = type * 16 + static_cast<uint32_t>(d);
        }
        const bool binaryType = type == 3;  // REG_BINARY written the long way
        std::vector<uint8_t> bytes;
        std::string raw(data.substr(0, close + 2));
        if (!ParseHexList(data.substr(close + 2), lines, bytes, &raw)) return false;
        if (binaryType) {
            v.binary = true;
            v.data = std::move(bytes);
        } else {
            v.text = std::move(raw);
        }
        return true;
    }
    if (!data.empty() && data.front() == '"') {
        std::string_view rest = data;
        std::string unused;
        if (!ParseQuoted(rest, unused) || !TrimRight(rest).empty()) return false;
        v.text = std::string(TrimRight(data));
        return true;
    }
    if (StartsNoCase(data, "dword:")) {
        const std::string_view digits = TrimRight(data.substr(6));
        if (digits.empty() || digits.size() > 8) return false;
        for (char c : digits)
            if (HexDigit(c) < 0) return false;
        v.text = std::string(TrimRight(data));
        return true;
    }
    if (TrimRight(data) == "-") {  // an import deletes the value
        v.text = "-";
        return true;
    }
    return false;
}

void AppendQuoted(std::string& out, std::string_view s) {
    out.push_back('"');
    for (char c : s) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

void AppendHex(std::string& out, size_t column, std::span<const uint8_t> data) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < data.size(); ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 0xF]);
        if (i + 1 == data.size()) break;
        out.push_back(',');
        column += 3;
        if (column >= kWrapAt) {
            out.push_back('\\');
            out.append(kEol);
            out.append(kIndent);
            column = kIndent.size();
        }
    }
}

}  // namespace

// --- RegFile ------------------------------------------------------------------------------------

RegFileValue* RegFileKey::Find(std::string_view name) {
    auto it = index.find(LowerCopy(name));
    return it == index.end() || values[it->second].removed ? nullptr : &values[it->second];
}

const RegFileValue* RegFileKey::Find(std::string_view name) const {
    auto it = index.find(LowerCopy(name));
    return it == index.end() || values[it->second].removed ? nullptr : &values[it->second];
}

RegFileValue& RegFileKey::Add(std::string_view name) {
    auto [it, fresh] = index.try_emplace(LowerCopy(name), values.size());
    if (fresh) {
        values.emplace_back();
    } else {
        values[it->second] = RegFileValue{};
    }
    RegFileValue& v = values[it->second];
    v.name = std::string(name);
    return v;
}

RegFileKey* RegFile::FindKey(std::string_view path) {
    for (RegFileKey& k : keys)
        if (EqualNoCase(k.path, path)) return &k;
    return nullptr;
}

std::optional<RegFile> ParseRegedit4(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte-order mark an editor added
    Lines lines(text);
    std::string_view line;
    if (!lines.Next(line) || TrimRight(line) != kHeader) return std::nullopt;

    RegFile file;
    RegFileKey* key = nullptr;
    std::string name;
    while (lines.Next(line)) {
        line = TrimLeft(TrimRight(line));
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3) return std::nullopt;
            const std::string_view path = line.substr(1, line.size() - 2);
            key = file.FindKey(path);
            if (!key) {
                file.keys.push_back(RegFileKey{std::string(path), {}, {}});
                key = &file.keys.back();
            }
            continue;
        }
        if (!key) return std::nullopt;  // a value outside any key
        std::string_view rest = line;
        bool isDefault = false;
        if (rest.front() == '@') {
            isDefault = true;
            name.clear();
            rest.remove_prefix(1);
        } else if (!ParseQuoted(rest, name)) {
            return std::nullopt;
        }
        rest = TrimLeft(rest);
        if (rest.empty() || rest.front() != '=') return std::nullopt;
        RegFileValue& v = key->Add(name);
        v.isDefault = isDefault;
        if (!ParseValueData(rest.substr(1), lines, v)) return std::nullopt;
    }
    return file;
}

std::string FormatRegedit4(const RegFile& file) {
    size_t estimate = 64;
    for (const RegFileKey& k : file.keys) {
        estimate += k.path.size() + 8;
        for (const RegFileValue& v : k.values) estimate += v.name.size() + 16 + v.text.size() + v.data.size() * 33 / 10;
    }
    std::string out;
    out.reserve(estimate);
    out.append(kHeader).append(kEol).append(kEol);
    for (const RegFileKey& k : file.keys) {
        out.append("[").append(k.path).append("]").append(kEol);
        for (const RegFileValue& v : k.values) {
            if (v.removed) continue;
            const size_t lineStart = out.size();
            if (v.isDefault) {
                out.push_back('@');
            } else {
                AppendQuoted(out, v.name);
            }
            out.push_back('=');
            if (v.binary) {
                out.append("hex:");
                AppendHex(out, out.size() - lineStart, v.data);
            } else {
                out.append(v.text);
            }
            out.append(kEol);
        }
        out.append(kEol);
    }
    return out;
}

// --- FileRegistry -------------------------------------------------------------------------------

namespace {

class FileRegistryKey final : public RegistryKey {
public:
    FileRegistryKey(FileRegistry& registry, RegFile file, size_t key)
        : registry_(registry), file_(std::move(file)), key_(key) {}

    std::optional<std::span<const uint8_t>> QueryBinary(std::string_view name) const override {
        const RegFileValue* v = file_.keys[key_].Find(name);
        if (!v || !v->binary) return std::nullopt;
        return std::span<const uint8_t>(v->data);
    }
    void SetBinary(std::string_view name, std::span<const uint8_t> data) override {
        RegFileKey& k = file_.keys[key_];
        RegFileValue* v = k.Find(name);
        if (!v) v = &k.Add(name);
        v->binary = true;
        v->text.clear();
        v->data.assign(data.begin(), data.end());
    }
    void DeleteValue(std::string_view name) override {
        if (RegFileValue* v = file_.keys[key_].Find(name)) {
            v->removed = true;
            v->data = {};
        }
    }
    std::vector<std::string> ValueNames() const override {
        std::vector<std::string> names;
        for (const RegFileValue& v : file_.keys[key_].values)
            if (!v.removed && !v.isDefault) names.push_back(v.name);
        return names;
    }
    bool Commit() override { return registry_.Store(file_); }

private:
    FileRegistry& registry_;
    RegFile file_;
    size_t key_;
};

}  // namespace

FileRegistry::FileRegistry(std::string filePath, FileOps& ops) : path_(std::move(filePath)), ops_(ops) {}

bool FileRegistry::SetAside() {
    for (int i = 0; i < kMaxSetAside; ++i) {
        std::string target = path_ + ".bad";
        if (i > 0) target += "." + std::to_string(i);
        const int rc = ops_.RenameNoReplace(path_, target);
        if (rc == 0) {
            setAside_ = target;
            std::fprintf(stderr, "quorvane: %s cannot be read; it was kept as %s\n", path_.c_str(), target.c_str());
            return true;
        }
        if (rc != EEXIST) return false;
    }
    return false;
}

std::unique_ptr<RegistryKey> FileRegistry::Open(std::string_view keyPath, bool create, OpenError* error) {
    OpenError dummy;
    OpenError& err = error ? *error : dummy;
    err = OpenError::none;

    std::string text;
    RegFile file;
    switch (ops_.ReadFile(path_, text, kMaxRegistryFile)) {
        case FileOps::ReadResult::ok:
            if (auto parsed = ParseRegedit4(text)) {
                file = std::move(*parsed);
                break;
            }
            [[fallthrough]];
        case FileOps::ReadResult::tooLarge:
            // Not ours to repair: keep it aside, so that the next save cannot overwrite it.
            if (!SetAside() || !create) {
                err = OpenError::unreadable;
                return nullptr;
            }
            break;
        case FileOps::ReadResult::missing:
            if (!create) {
                err = OpenError::missing;
                return nullptr;
            }
            break;
        case FileOps::ReadResult::failed:
            err = OpenError::unreadable;
            return nullptr;
    }
    text = {};

    RegFileKey* key = file.FindKey(keyPath);
    if (!key) {
        if (!create) {
            err = OpenError::missing;
            return nullptr;
        }
        file.keys.push_back(RegFileKey{std::string(keyPath), {}, {}});
        key = &file.keys.back();
    }
    const size_t index = static_cast<size_t>(key - file.keys.data());
    return std::make_unique<FileRegistryKey>(*this, std::move(file), index);
}

bool FileRegistry::Store(const RegFile& file) {
    const std::string text = FormatRegedit4(file);
    const std::string dir = ParentDir(path_);
    const std::string temp = path_ + ".tmp";
    if (!ops_.MakeDirs(dir, 0700)) return false;
    ops_.Remove(temp);  // left over from a save that was cut short
    const int fd = ops_.CreateExclusive(temp, 0600);
    if (fd < 0) return false;
    bool ok = ops_.WriteAll(fd, text.data(), text.size());
    ok = ok && ops_.Sync(fd);
    // A close can report a write error too.
    ok = ops_.Close(fd) && ok;
    if (!ok || !ops_.Rename(temp, path_)) {
        ops_.Remove(temp);
        return false;
    }
    // The new file is in place; a failed folder sync can only make a crash bring the old one back.
    ops_.SyncDir(dir);
    return true;
}

std::string DefaultRegistryPath() { return ConfigHome() + "/quorvane/registry.reg"; }

}  // namespace quorvane
