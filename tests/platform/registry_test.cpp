#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/fake_file_ops.h"
#include "platform/fake_registry.h"
#include "tests/support/test_env.h"

namespace quorvane {
namespace {

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\Software\\Quorvane";

std::vector<uint8_t> Bytes(size_t n, uint8_t start = 0) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(start + i);
    return v;
}

std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::filesystem::path& p, const std::string& text) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

RegFile OneKey(std::vector<std::pair<std::string, std::vector<uint8_t>>> values) {
    RegFile f;
    f.keys.push_back(RegFileKey{kKey, {}, {}});
    for (auto& [name, data] : values) {
        RegFileValue& v = f.keys[0].Add(name);
        v.binary = true;
        v.data = data;
    }
    return f;
}

TEST(Regedit4, WritesWhatTheRegistryEditorWrites) {
    const std::string text = FormatRegedit4(OneKey({{"MaxLength", {0xd0, 0x07, 0, 0}}, {"item1", {}}, {"item0", Bytes(30)}}));
    EXPECT_EQ(text,
              "REGEDIT4\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Quorvane]\r\n"
              "\"MaxLength\"=hex:d0,07,00,00\r\n"
              "\"item1\"=hex:\r\n"
              "\"item0\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
              "  16,17,18,19,1a,1b,1c,1d\r\n"
              "\r\n");

    // A full chunk: every line fits in 80 columns and continues with a backslash.
    const std::string big = FormatRegedit4(OneKey({{"item0", Bytes(1000)}}));
    std::istringstream lines(big);
    std::string line;
    int continued = 0;
    while (std::getline(lines, line)) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        EXPECT_LE(line.size(), 80u) << line;
        if (!line.empty() && line.back() == '\\') ++continued;
    }
    EXPECT_EQ(continued, 40);  // 22 bytes on the first line, 25 on each further one
}

TEST(Regedit4, ReadsBackWhatItWrites) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{22}, size_t{23}, size_t{1000}}) {
        const RegFile f = OneKey({{"item0", Bytes(n, 7)}, {"Na\"me\\x", Bytes(3)}});
        const auto parsed = ParseRegedit4(FormatRegedit4(f));
        ASSERT_TRUE(parsed) << n;
        ASSERT_EQ(parsed->keys.size(), 1u);
        EXPECT_EQ(parsed->keys[0].Find("ITEM0")->data, Bytes(n, 7));
        EXPECT_EQ(parsed->keys[0].Find("na\"me\\X")->data, Bytes(3));
    }
}

TEST(Regedit4, AcceptsHandEditedFiles) {
    const std::string text =
        "REGEDIT4\n"
        "; written by hand, LF line ends\n"
        "\n"
        "[HKEY_CURRENT_USER\\Other]\n"
        "\"Text\"=\"a \\\"quoted\\\" value\"\n"
        "@=\"default\"\n"
        "\n"
        "[hkey_local_machine\\software\\QUORVANE]\n"
        "  \"MaxLength\" = hex:D0,7, 0 ,00\n"
        "\"item0\"=hex:01,02,\\\n"
        "\t   03,\\  \n"
        "  04\n"
        "\"Count\"=dword:0000002a\n"
        "\"Multi\"=hex(7):41,00,\\\n"
        "  00,00\n"
        "\"Long\"=hex(3):aa,bb\n"
        "\"Gone\"=-\n"
        "\"item0\"=hex:05,06\n";  // a later value replaces an earlier one, as an import does
    const auto f = ParseRegedit4(text);
    ASSERT_TRUE(f);
    ASSERT_EQ(f->keys.size(), 2u);
    const RegFileKey& k = f->keys[1];
    EXPECT_EQ(k.Find("maxlength")->data, (std::vector<uint8_t>{0xd0, 0x07, 0x00, 0x00}));
    EXPECT_EQ(k.Find("item0")->data, (std::vector<uint8_t>{5, 6}));
    EXPECT_FALSE(k.Find("Count")->binary);
    EXPECT_FALSE(k.Find("Multi")->binary);
    EXPECT_TRUE(k.Find("Long")->binary);  // hex(3) is the binary type written the long way
    EXPECT_EQ(k.Find("Long")->data, (std::vector<uint8_t>{0xaa, 0xbb}));

    // Values of other types and other keys come back as they were.
    const auto again = ParseRegedit4(FormatRegedit4(*f));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->keys[0].Find("Text")->text, "\"a \\\"quoted\\\" value\"");
    EXPECT_EQ(again->keys[0].Find("")->text, "\"default\"");
    EXPECT_EQ(again->keys[1].Find("Count")->text, "dword:0000002a");
    EXPECT_EQ(again->keys[1].Find("Multi")->text, "hex(7):41,00,00,00");
    EXPECT_EQ(again->keys[1].Find("Gone")->text, "-");
}

TEST(Regedit4, RejectsMalformedFiles) {
    const std::string key = "[HKEY_LOCAL_MACHINE\\Software\\Quorvane]\r\n";
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"no header", key + "\"a\"=hex:00\r\n"},
        {"other format", "Windows Registry Editor Version 5.00\r\n\r\n" + key},
        {"value outside a key", "REGEDIT4\r\n\"a\"=hex:00\r\n"},
        {"open key header", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\r\n"},
        {"empty key header", "REGEDIT4\r\n[]\r\n"},
        {"bad hex digit", "REGEDIT4\r\n" + key + "\"a\"=hex:0g\r\n"},
        {"three digits", "REGEDIT4\r\n" + key + "\"a\"=hex:001\r\n"},
        {"empty byte", "REGEDIT4\r\n" + key + "\"a\"=hex:00,,01\r\n"},
        {"leading comma", "REGEDIT4\r\n" + key + "\"a\"=hex:,00\r\n"},
        {"missing comma across lines", "REGEDIT4\r\n" + key + "\"a\"=hex:00\\\r\n  01\r\n"},
        {"bad continuation", "REGEDIT4\r\n" + key + "\"a\"=hex:00,\\\r\n  zz\r\n"},
        {"no equals sign", "REGEDIT4\r\n" + key + "\"a\" hex:00\r\n"},
        {"unterminated name", "REGEDIT4\r\n" + key + "\"a=hex:00\r\n"},
        {"unknown type", "REGEDIT4\r\n" + key + "\"a\"=qword:00\r\n"},
        {"long dword", "REGEDIT4\r\n" + key + "\"a\"=dword:000000001\r\n"},
        {"text after a string", "REGEDIT4\r\n" + key + "\"a\"=\"x\" y\r\n"},
        {"stray line", "REGEDIT4\r\n" + key + "item0=hex:00\r\n"},
    };
    for (const auto& [what, text] : cases) EXPECT_FALSE(ParseRegedit4(text)) << what;
}

class FileRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test::TempHome() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(dir_);
        file_ = dir_ / "quorvane" / "registry.reg";
    }
    std::filesystem::path dir_, file_;
};

TEST_F(FileRegistryTest, StoresOneKeyInAPrivateFileAndKeepsOtherKeys) {
    WriteAll(file_, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"Keep\"=\"me\"\r\n\r\n");
    std::filesystem::permissions(file_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                            std::filesystem::perms::others_read);
    FileRegistry reg(file_.string());
    Registry::OpenError err;
    EXPECT_FALSE(reg.Open(kKey, false, &err));
    EXPECT_EQ(err, Registry::OpenError::missing);

    auto key = reg.Open(kKey, true, &err);
    ASSERT_TRUE(key);
    key->SetBinary("item0", Bytes(1500));
    key->SetBinary("Stale", Bytes(2));
    key->DeleteValue("stale");
    ASSERT_TRUE(key->Commit());

    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(std::filesystem::exists(file_.string() + ".tmp"));
    const std::string text = ReadAll(file_);
    EXPECT_NE(text.find("\"Keep\"=\"me\""), std::string::npos);
    EXPECT_EQ(text.find("Stale"), std::string::npos);

    auto again = FileRegistry(file_.string()).Open(kKey, false);
    ASSERT_TRUE(again);
    EXPECT_EQ(std::vector<uint8_t>(again->QueryBinary("ITEM0")->begin(), again->QueryBinary("ITEM0")->end()), Bytes(1500));
    EXPECT_FALSE(again->QueryBinary("Stale"));
}

TEST_F(FileRegistryTest, AnUnreadableFileIsKeptAsideNeverOverwritten) {
    FileRegistry reg(file_.string());
    Registry::OpenError err;
    EXPECT_FALSE(reg.Open(kKey, false, &err));
    EXPECT_EQ(err, Registry::OpenError::missing);

    WriteAll(file_, "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Quorvane]\r\n\"item0\"=hex:zz\r\n");
    EXPECT_FALSE(reg.Open(kKey, false, &err));
    EXPECT_EQ(err, Registry::OpenError::unreadable);
    EXPECT_EQ(reg.setAsidePath(), file_.string() + ".bad");
    EXPECT_FALSE(std::filesystem::exists(file_));
    EXPECT_NE(ReadAll(file_.string() + ".bad").find("hex:zz"), std::string::npos);

    // A second bad file does not replace the first one; opening to write starts afresh.
    WriteAll(file_, "garbage");
    auto key = reg.Open(kKey, true, &err);
    ASSERT_TRUE(key);
    EXPECT_EQ(reg.setAsidePath(), file_.string() + ".bad.1");
    EXPECT_EQ(ReadAll(file_.string() + ".bad.1"), "garbage");
    EXPECT_NE(ReadAll(file_.string() + ".bad").find("hex:zz"), std::string::npos);
    key->SetBinary("MaxLength", Bytes(4));
    ASSERT_TRUE(key->Commit());
    EXPECT_TRUE(reg.Open(kKey, false));
}

TEST(FileRegistry, EveryFailedStepOfASaveLeavesTheOldFile) {
    // Each step of the save fails in turn; the caller hears of it and the old file stays whole.
    MemFileOps mem;
    const std::string path = "/cfg/quorvane/registry.reg";
    const std::string old = FormatRegedit4(OneKey({{"item0", Bytes(5)}}));
    mem.PutDurable(path, old);
    FaultyFileOps faulty(mem);
    FileRegistry reg(path, faulty);
    for (int k = 1;; ++k) {
        faulty.FailAt(0, FaultyFileOps::Mode::failOne);
        auto key = reg.Open(kKey, true);
        ASSERT_TRUE(key);
        key->SetBinary("item0", Bytes(9));
        faulty.FailAt(k, FaultyFileOps::Mode::failOne);
        const bool stored = key->Commit();
        std::string now;
        ASSERT_EQ(mem.ReadFile(path, now, kMaxRegistryFile), FileOps::ReadResult::ok);
        if (!faulty.tripped()) {
            ASSERT_TRUE(stored);
            EXPECT_NE(now, old);
            EXPECT_EQ(mem.ModeOf(path), 0600u);
            break;
        }
        // Only a failed folder sync comes after the new file is in place.
        if (stored) {
            EXPECT_NE(now, old) << k;
        } else {
            EXPECT_EQ(now, old) << k;
        }
        EXPECT_EQ(mem.Names(), std::set<std::string>{path}) << k;  // no temporary left behind
        mem.PutDurable(path, old);
        ASSERT_LT(k, 50);
    }
}

TEST(FakeRegistry, OpeningsAreSnapshotsCommittedAtOnce) {
    FakeRegistry reg;
    EXPECT_FALSE(reg.Open(kKey, false));
    auto key = reg.Open(kKey, true);
    key->SetBinary("Item0", Bytes(3));
    EXPECT_FALSE(reg.HasKey(kKey));
    reg.failCommit = true;
    EXPECT_FALSE(key->Commit());
    reg.failCommit = false;
    EXPECT_TRUE(key->Commit());
    EXPECT_EQ(reg.Get(kKey, "ITEM0"), Bytes(3));
    EXPECT_EQ(reg.Names(kKey), std::vector<std::string>{"Item0"});
    EXPECT_EQ(reg.opens, 1);
    EXPECT_EQ(reg.commits, 1);
}

}  // namespace
}  // namespace quorvane
