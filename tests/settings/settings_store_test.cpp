#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/fake_file_ops.h"
#include "platform/fake_registry.h"
#include "settings/run_at_logon.h"
#include "tests/settings/store_fixtures.h"
#include "tests/support/test_env.h"

namespace quorvane {
namespace {

using test::AllChanged;
using test::Bytes;
using test::Differences;
using test::FakeHosts;
using test::Fresh;
using test::Records;

using Names = std::vector<std::string>;

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + 7);
    return v;
}

std::vector<uint8_t> Le(uint32_t v) { return Bytes().u32(v).v; }

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Stores a stream as the store would, through a store of its own.
void PutStream(Registry& reg, const std::vector<uint8_t>& stream) {
    AppSettings unused;
    SettingsStore(unused, nullptr, reg).WriteBlob(stream.data(), stream.size());
}

// Loads the registry's stream into start-up settings; returns them with LoadSettings' result.
std::pair<int, AppSettings> Load(Registry& reg, HostPersistence* hosts = nullptr) {
    AppSettings s = Fresh();
    const int rc = SettingsStore(s, hosts, reg).LoadSettings();
    return {rc, s};
}

// --- Chunks -------------------------------------------------------------------------------------

TEST(SettingsStoreBlob, CutsTheStreamIntoChunksOfAThousandBytes) {
    FakeRegistry reg;
    AppSettings s;
    SettingsStore store(s, nullptr, reg);

    const auto stream = Pattern(2000);
    ASSERT_EQ(store.WriteBlob(stream.data(), stream.size()), 1);
    EXPECT_EQ(reg.Names(kSettingsKeyPath), (Names{"item0", "item1", "item2", "MaxLength"}));
    EXPECT_EQ(reg.Get(kSettingsKeyPath, "item0"), std::vector<uint8_t>(stream.begin(), stream.begin() + 1000));
    EXPECT_EQ(reg.Get(kSettingsKeyPath, "item1"), std::vector<uint8_t>(stream.begin() + 1000, stream.end()));
    EXPECT_EQ(reg.Get(kSettingsKeyPath, "item2"), std::vector<uint8_t>{});
    EXPECT_EQ(reg.Get(kSettingsKeyPath, "MaxLength"), Le(2000));
    StreamBuffer buffer;
    EXPECT_EQ(store.ReadBlob(buffer), 2000);
    EXPECT_EQ(std::vector<uint8_t>(buffer.bytes().begin(), buffer.bytes().end()), stream);

    // A shorter stream: one chunk; the chunks of the longer one are dropped.
    const auto shorter = Pattern(999);
    ASSERT_EQ(store.WriteBlob(shorter.data(), shorter.size()), 1);
    EXPECT_EQ(reg.Names(kSettingsKeyPath), (Names{"item0", "MaxLength"}));
    EXPECT_EQ(reg.Get(kSettingsKeyPath, "item0"), shorter);
    EXPECT_EQ(store.ReadBlob(buffer), 999);

    // Chunk names are hexadecimal; one opening and one commit per read or write.
    EXPECT_EQ(ChunkName(9), "item9");
    EXPECT_EQ(ChunkName(10), "itema");
    EXPECT_EQ(ChunkName(16), "item10");
    const auto longer = Pattern(16000);
    const int opens = reg.opens;
    const int commits = reg.commits;
    ASSERT_EQ(store.WriteBlob(longer.data(), longer.size()), 1);
    EXPECT_EQ(reg.Get(kSettingsKeyPath, "item10"), std::vector<uint8_t>{});
    EXPECT_EQ(reg.Get(kSettingsKeyPath, "itemf")->size(), 1000u);
    EXPECT_EQ(store.ReadBlob(buffer), 16000);
    EXPECT_EQ(reg.opens, opens + 2);
    EXPECT_EQ(reg.commits, commits + 1);

    reg.failCommit = true;
    EXPECT_EQ(store.WriteBlob(stream.data(), stream.size()), 0);
    EXPECT_EQ(store.ReadBlob(buffer), 16000);
}

TEST(SettingsStoreBlob, DamagedStoresLoadNothingAndAskForRegistration) {
    const auto stream = Bytes().record(kRecordLog, Bytes().i32(0).i32(1).text("x.log").text("t").zeros(6).v).v;
    struct Case {
        const char* what;
        void (*damage)(FakeRegistry&);
        int expected;
    };
    const Case cases[] = {
        {"no key", [](FakeRegistry& r) { r = FakeRegistry(); }, kStoreUnreadable},
        {"no MaxLength", [](FakeRegistry& r) { r.Remove(kSettingsKeyPath, "MaxLength"); }, kStoreUnreadable},
        {"MaxLength of 3 bytes", [](FakeRegistry& r) { r.Put(kSettingsKeyPath, "MaxLength", {34, 0, 0}); }, kStoreUnreadable},
        {"MaxLength of 5 bytes", [](FakeRegistry& r) { r.Put(kSettingsKeyPath, "MaxLength", {34, 0, 0, 0, 0}); }, kStoreUnreadable},
        {"missing chunk", [](FakeRegistry& r) { r.Remove(kSettingsKeyPath, "item0"); }, kStoreUnreadable},
        {"chunk longer than MaxLength", [](FakeRegistry& r) { r.Put(kSettingsKeyPath, "MaxLength", Le(33)); }, kStoreUnreadable},
        {"short chunk", [](FakeRegistry& r) { r.Put(kSettingsKeyPath, "MaxLength", Le(35)); }, kStoreMismatch},
        {"chunks not adding up", [](FakeRegistry& r) { r.Put(kSettingsKeyPath, "MaxLength", Le(1500)); }, kStoreMismatch},
        {"negative MaxLength", [](FakeRegistry& r) { r.Put(kSettingsKeyPath, "MaxLength", Le(0x80000000u)); }, kStoreMismatch},
        {"absurd MaxLength", [](FakeRegistry& r) { r.Put(kSettingsKeyPath, "MaxLength", Le(0x7FFFFFFFu)); }, kStoreMismatch},
        {"full chunk then nothing",
         [](FakeRegistry& r) {
             r.Put(kSettingsKeyPath, "item0", std::vector<uint8_t>(1000));
             r.Put(kSettingsKeyPath, "MaxLength", Le(1000));
         },
         kStoreUnreadable},
    };
    for (const Case& c : cases) {
        FakeRegistry reg;
        PutStream(reg, stream);
        ASSERT_EQ(stream.size(), 34u);
        c.damage(reg);
        const auto [rc, loaded] = Load(reg);
        EXPECT_EQ(rc, c.expected) << c.what;
        EXPECT_EQ(Differences(loaded, Fresh()), Names{}) << c.what;
    }

    // An empty stream is a stream: nothing to apply, and no failure.
    FakeRegistry reg;
    PutStream(reg, {});
    const auto [rc, loaded] = Load(reg);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Differences(loaded, Fresh()), Names{});
}

// --- Stream layout ------------------------------------------------------------------------------

TEST(SettingsStoreStream, AFreshSaveWritesEveryRecordByteForByte) {
    AppSettings s = Fresh();
    FakeHosts hosts;
    hosts.payload = Bytes().u32(0).v;
    FakeRegistry reg;
    SettingsStore store(s, &hosts, reg);
    ASSERT_EQ(store.SaveSettings(), 1);
    const auto records = Records(store.buffer().bytes());

    ASSERT_EQ(records.size(), 10u);
    const int32_t order[] = {1, 4, 5, 6, 7, 8, 9, 10, 3, 2};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(records[i].sequence, i);
        EXPECT_EQ(records[i].type, order[i]);
    }

    // The general block.
    const auto& general = records[0].payload;
    ASSERT_EQ(general.size(), 496u + 22u);
    const std::pair<size_t, int32_t> words[] = {{0, 20},     {36, 3},          {40, 3},          {44, 3},
                                                {50, 0x307036A0}, {54, static_cast<int32_t>(0xE0606060u)},
                                                {58, 0xE0},  {62, 3},          {66, 691200},     {70, 0}, {74, 5}};
    for (auto [offset, value] : words) EXPECT_EQ(test::Le32(&general[offset]), value) << offset;
    EXPECT_EQ(general[48] | general[49] << 8, 6000);
    for (size_t i = 4; i < 36; ++i) EXPECT_EQ(general[i], 0) << i;
    for (size_t i = 78; i < 364; ++i) EXPECT_EQ(general[i], 0) << i;
    EXPECT_EQ(std::vector<uint8_t>(general.begin() + 364, general.end()),
              Bytes().text("").text("").text("").text("This is a test message").zeros(128).v);

    const std::string box =
        "<DATE_TIME>\r\nHOSTNAME is <HOST_NAME>\r\nIP ADDR is <IP_ADDR>\r\nMAC ADDR is <MAC_ADDR>\r\n"
        "GROUP NAME is <GROUP_NAME>";
    const std::vector<uint8_t> expected[] = {
        Bytes().i32(1).i32(1).raw({192, 168, 5, 77}).u32(0).text(kDefaultMailBody).v,
        Bytes().i32(0).u32(0).i32(0).i32(25).text("").text("").text("").text("").text("send a test Email").text("<EVENT>")
            .text(kDefaultMailBody).v,
        Bytes().i32(0).i32(1).text("").text("").zeros(6).v,
        Bytes().i32(0).i32(1).text("<EVENT>").text(box).zeros(6).v,
        Bytes().i32(0).i32(1).text("quorvane.log").text("<EVENT>;<IP_ADDR>;<HOST_NAME>").zeros(6).v,
        Bytes().i32(0).u32(1).i32(10).u32(1).i32(10).u32(0).i32(1).u32(0).i32(6).text("").text("").text("").zeros(6).v,
        Bytes().u32(0).text("PEER is <IP_ADDR>/<HOST_NAME> <EVENT>").text("This is a syslog test message").v,
        Bytes().u32(0).v,
        Bytes().i32(1).zeros(8).raw({192, 168, 5, 1}).raw({192, 168, 5, 255}).zeros(8).v,
    };
    for (int i = 1; i < 10; ++i) EXPECT_EQ(records[i].payload, expected[i - 1]) << "type " << records[i].type;

    // The whole stream went to the registry.
    const auto maxLength = reg.Get(kSettingsKeyPath, "MaxLength");
    ASSERT_TRUE(maxLength);
    EXPECT_EQ(static_cast<size_t>(test::Le32(maxLength->data())), store.buffer().used());
}

TEST(SettingsStoreStream, BuffersGrowByTheHeadroomRulesAndRecordsThatFindNoRoomAreLeftOut) {
    AppSettings s = Fresh();
    FakeRegistry reg;
    SettingsStore store(s, nullptr, reg);
    store.BuildStream();
    EXPECT_EQ(store.buffer().capacity(), 65536u);  // the first record's headroom, once

    s.segments.assign(kMaxSegments, s.segments[0]);
    store.BuildStream();
    EXPECT_EQ(store.buffer().capacity(), 65536u + 65536u + 24u * kMaxSegments);

    // A text larger than any headroom is written whole.
    s.mailBody.assign(200000, 'b');
    ASSERT_EQ(store.SaveSettings(), 1);
    EXPECT_EQ(Load(reg).second.mailBody, s.mailBody);

    // Without the memory for the segments, that record alone is missing and the rest loads.
    AppSettings t = AllChanged();
    t.segments.assign(kMaxSegments, t.segments[1]);
    SettingsStore small(t, nullptr, reg);
    small.buffer().SetAllocationLimit(65536);
    ASSERT_EQ(small.SaveSettings(), 1);
    std::vector<int32_t> types;
    for (const auto& r : Records(small.buffer().bytes())) types.push_back(r.type);
    EXPECT_EQ(types, (std::vector<int32_t>{1, 4, 5, 6, 7, 8, 9, 10}));
    const auto [rc, loaded] = Load(reg);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Differences(loaded, t), Names{"segments"});
    EXPECT_EQ(loaded.segments, Fresh().segments);
}

TEST(SettingsStoreStream, TheHostRecordComesFromAndGoesToTheHostTable) {
    AppSettings s = Fresh();
    FakeHosts hosts;
    hosts.payload = Bytes().u32(1).raw(Pattern(268 + 20)).v;
    hosts.occupied = 1;
    FakeRegistry reg;
    SettingsStore store(s, &hosts, reg);
    ASSERT_EQ(store.SaveSettings(), 1);

    FakeHosts target;
    EXPECT_EQ(Load(reg, &target).first, 0);
    ASSERT_EQ(target.loaded.size(), 1u);
    EXPECT_EQ(target.loaded[0], hosts.payload);

    // A table that cannot make its room is left out; the records after it are numbered on.
    hosts.failSave = true;
    store.BuildStream();
    const auto records = Records(store.buffer().bytes());
    ASSERT_EQ(records.size(), 9u);
    EXPECT_EQ(records[8].type, kRecordSegments);
    EXPECT_EQ(records[8].sequence, 8);
}

// --- Loading ------------------------------------------------------------------------------------

TEST(SettingsStoreLoad, AppliesOnlyTheRecordsPresentAndSkipsUnknownTypes) {
    const auto logRecord = Bytes().i32(0).i32(1).text("other.log").text("<IP_ADDR>").zeros(6).v;
    FakeRegistry reg;
    PutStream(reg, Bytes().record(kRecordLog, logRecord).v);
    auto [rc, loaded] = Load(reg);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Differences(loaded, Fresh()), (Names{"logFile", "logTemplate", "logTrailer"}));
    EXPECT_EQ(loaded.logFile, "other.log");
    EXPECT_EQ(loaded.logTemplate, "<IP_ADDR>");
    EXPECT_EQ(loaded.logTrailer, 6);

    // Types 0 and 11 are stepped over; a later record of a type replaces an earlier one.
    const auto syslog = Bytes().u32(0).text("later").text("test").v;
    PutStream(reg, Bytes()
                       .record(0, Pattern(40))
                       .record(kRecordSyslog, Bytes().u32(0).text("earlier").text("t").v)
                       .record(11, Pattern(7))
                       .record(-3, {})
                       .record(kRecordLog, logRecord)
                       .record(kRecordSyslog, syslog)
                       .v);
    std::tie(rc, loaded) = Load(reg);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(loaded.logFile, "other.log");
    EXPECT_EQ(loaded.syslogMessage, "later");
}

TEST(SettingsStoreLoad, TrailerWordsAreOneOnAFreshSaveAndSixAfterAReload) {
    FakeRegistry reg;
    auto trailers = [](std::span<const uint8_t> stream) {
        std::vector<int32_t> out;
        for (const auto& r : Records(stream)) {
            if (r.type >= kRecordExec && r.type <= kRecordLog) out.push_back(test::Le32(&r.payload[4]));
            if (r.type == kRecordSound) out.push_back(test::Le32(&r.payload[32]));
        }
        return out;
    };
    AppSettings first = Fresh();
    SettingsStore one(first, nullptr, reg);
    ASSERT_EQ(one.SaveSettings(), 1);
    EXPECT_EQ(trailers(one.buffer().bytes()), (std::vector<int32_t>{1, 1, 1, 6}));
    ASSERT_EQ(one.SaveSettings(), 1);  // the same process saving again
    EXPECT_EQ(trailers(one.buffer().bytes()), (std::vector<int32_t>{6, 6, 6, 6}));

    AppSettings second = Fresh();
    SettingsStore two(second, nullptr, reg);
    PutStream(reg, std::vector<uint8_t>(one.buffer().bytes().begin(), one.buffer().bytes().end()));
    ASSERT_EQ(two.LoadSettings(), 0);
    EXPECT_EQ(second.execTrailer, 6);
    ASSERT_EQ(two.SaveSettings(), 1);
    EXPECT_EQ(trailers(two.buffer().bytes()), (std::vector<int32_t>{6, 6, 6, 6}));
}

TEST(SettingsStoreLoad, ReservedValuesComeBackUnchangedButForWordSeventyAndTheTrailers) {
    // A stored stream with reserved values everywhere, word 70 at 0 and trailer words 1.
    AppSettings stored = AllChanged();
    stored.generalReserved70 = 0;
    stored.execTrailer = stored.boxTrailer = stored.logTrailer = stored.soundTrailer = 1;
    FakeRegistry reg;
    SettingsStore writer(stored, nullptr, reg);
    ASSERT_EQ(writer.SaveSettings(), 1);
    const auto x = Records(writer.buffer().bytes());

    AppSettings s = Fresh();
    SettingsStore store(s, nullptr, reg);
    ASSERT_EQ(store.LoadSettings(), 0);
    EXPECT_EQ(s.generalReserved70, 3);
    ASSERT_EQ(store.SaveSettings(), 1);
    const auto y = Records(store.buffer().bytes());

    ASSERT_EQ(y.size(), x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        auto want = x[i].payload;
        if (x[i].type == kRecordGeneral) want[70] = 3;
        if (x[i].type >= kRecordExec && x[i].type <= kRecordLog) want[4] = 6;
        if (x[i].type == kRecordSound) want[32] = 6;
        EXPECT_EQ(y[i].payload, want) << "type " << x[i].type;
    }
}

TEST(SettingsStoreLoad, EverySettingSurvivesASaveAndALoad) {
    AppSettings saved = AllChanged();
    FakeRegistry reg;
    ASSERT_EQ(SettingsStore(saved, nullptr, reg).SaveSettings(), 1);
    const auto [rc, loaded] = Load(reg);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Differences(loaded, saved), Names{});
    // The round trip covers every field: each one differs from its default (the sound record's
    // trailer word is 6 in both).
    const auto changed = Differences(Fresh(), saved);
    EXPECT_EQ(Differences(Fresh(), Fresh()), Names{});
    EXPECT_EQ(changed.size(), 55u);
    EXPECT_EQ(std::count(changed.begin(), changed.end(), "soundTrailer"), 0);
}

// --- Hostile streams ----------------------------------------------------------------------------

bool IsPrefix(const auto& part, const auto& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

TEST(SettingsStoreHostile, ACutStreamLoadsAsFarAsItGoes) {
    const AppSettings saved = AllChanged();
    const AppSettings fresh = Fresh();
    FakeRegistry reg;
    AppSettings copy = saved;
    SettingsStore writer(copy, nullptr, reg);
    writer.BuildStream();
    const std::vector<uint8_t> stream(writer.buffer().bytes().begin(), writer.buffer().bytes().end());

    size_t changedBefore = 0;
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        AppSettings s = fresh;
        SettingsStore store(s, nullptr, reg);
        store.ApplyStream(std::span(stream).first(cut));
        // Every field is either still fresh or loaded; a list may hold the entries that fit.
        for (const std::string& f : Differences(s, fresh)) {
            const auto notSaved = Differences(s, saved);
            if (std::find(notSaved.begin(), notSaved.end(), f) == notSaved.end()) continue;
            auto partRule = [](const SoundRule& r, const SoundRule& a, const SoundRule& b) {
                return (r.beep == a.beep || r.beep == b.beep) && (r.seconds == a.seconds || r.seconds == b.seconds) &&
                       (r.soundFile == a.soundFile || r.soundFile == b.soundFile);
            };
            const bool prefix = (f == "segments" && IsPrefix(s.segments, saved.segments)) ||
                                (f == "infoSound" && partRule(s.infoSound, fresh.infoSound, saved.infoSound)) ||
                                (f == "downSound" && partRule(s.downSound, fresh.downSound, saved.downSound)) ||
                                (f == "upSound" && partRule(s.upSound, fresh.upSound, saved.upSound)) ||
                                (f == "mailReceivers" && IsPrefix(s.mailReceivers, saved.mailReceivers)) ||
                                (f == "messengerReceivers" && IsPrefix(s.messengerReceivers, saved.messengerReceivers)) ||
                                (f == "syslogServers" && IsPrefix(s.syslogServers, saved.syslogServers));
            EXPECT_TRUE(prefix) << f << " at cut " << cut;
        }
        const size_t changed = Differences(s, fresh).size();
        EXPECT_GE(changed, changedBefore) << cut;
        changedBefore = changed;
        if (cut == stream.size()) {
            EXPECT_EQ(Differences(s, saved), Names{});
        }
    }

    // A cut inside the mail record's texts: the texts before the cut are kept.
    const auto records = Records(stream);
    size_t mailStart = 0;
    for (const auto& r : records) {
        if (r.type == kRecordMail) break;
        mailStart += 12 + r.payload.size();
    }
    AppSettings s = fresh;
    SettingsStore(s, nullptr, reg).ApplyStream(std::span(stream).first(mailStart + 12 + 16 + saved.smtpServer.size() + 3));
    EXPECT_EQ(s.smtpServer, saved.smtpServer);
    EXPECT_EQ(s.mailFrom, fresh.mailFrom);
    EXPECT_EQ(s.smtpPort, saved.smtpPort);
}

TEST(SettingsStoreHostile, CountsAndLengthsThatLieAreBounded) {
    auto segmentPayload = [](int32_t count, size_t present) {
        Bytes b;
        b.i32(count);
        for (size_t i = 0; i < present; ++i) b.zeros(8).u32(static_cast<uint32_t>(i + 1)).u32(0xFFFFFFFF).zeros(8);
        return b.v;
    };
    auto syslogPayload = [](uint32_t count, size_t present) {
        Bytes b;
        b.u32(count);
        for (size_t i = 0; i < present; ++i) b.u32(static_cast<uint32_t>(i + 1)).u32(0);
        return b.text("msg").text("test").v;
    };
    const auto freshSegments = Fresh().segments;

    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
        void (*check)(const AppSettings&);
    };
    const std::vector<Case> cases = {
        {"segment count above the entries", Bytes().record(kRecordSegments, segmentPayload(0x7FFFFFFF, 3)).v,
         [](const AppSettings& s) { EXPECT_EQ(s.segments.size(), 3u); }},
        {"more segments than the list holds", Bytes().record(kRecordSegments, segmentPayload(3000, 3000)).v,
         [](const AppSettings& s) {
             ASSERT_EQ(s.segments.size(), kMaxSegments);
             EXPECT_EQ(s.segments.back().first, kMaxSegments);
         }},
        {"negative segment count", Bytes().record(kRecordSegments, segmentPayload(-1, 3)).v,
         [](const AppSettings& s) { EXPECT_EQ(s.segments, Fresh().segments); }},
        {"more syslog servers than the list holds", Bytes().record(kRecordSyslog, syslogPayload(100, 100)).v,
         [](const AppSettings& s) {
             EXPECT_EQ(s.syslogServers.size(), kMaxSyslogServers);
             EXPECT_EQ(s.syslogMessage, "msg");
             EXPECT_EQ(s.syslogTestText, "test");
         }},
        {"syslog count of four billion", Bytes().record(kRecordSyslog, syslogPayload(0xFFFFFFFF, 2)).v,
         [](const AppSettings& s) {
             EXPECT_LE(s.syslogServers.size(), 4u);
             EXPECT_EQ(s.syslogTestText, Fresh().syslogTestText);
         }},
        {"messenger count of two billion",
         Bytes().record(kRecordMessenger, Bytes().i32(2).i32(0x7FFFFFFF).u32(1).u32(2).v).v,
         [](const AppSettings& s) {
             EXPECT_EQ(s.messengerRetryTimes, 2);
             EXPECT_EQ(s.messengerReceivers, (std::vector<AddressEntry>{{1, 2}}));
             EXPECT_EQ(s.messengerMessage, Fresh().messengerMessage);
         }},
        {"negative messenger count", Bytes().record(kRecordMessenger, Bytes().i32(2).i32(-5).u32(1).u32(2).v).v,
         [](const AppSettings& s) {
             EXPECT_EQ(s.messengerRetryTimes, 2);
             EXPECT_EQ(s.messengerReceivers, Fresh().messengerReceivers);
         }},
        {"mail receivers fewer than counted",
         Bytes().record(kRecordMail, Bytes().i32(0).u32(3).i32(1000000).i32(465).text("srv").text("").text("")
                                         .text("").text("").text("").text("").text("a@x").zeros(4).text("b@x").v).v,
         [](const AppSettings& s) {
             EXPECT_EQ(s.smtpPort, 465);
             EXPECT_EQ(s.mailFlags, 3u);
             EXPECT_EQ(s.mailReceivers, std::vector<std::string>{"a@x"});  // "b@x" lacks its four bytes
         }},
        {"negative record length ends the walk",
         Bytes().record(kRecordSyslog, syslogPayload(0, 0)).i32(0).i32(kRecordLog).i32(-12).record(kRecordSegments,
                                                                                                      segmentPayload(0, 0)).v,
         [](const AppSettings& s) {
             EXPECT_EQ(s.syslogMessage, "msg");
             EXPECT_EQ(s.segments, Fresh().segments);
         }},
        {"record longer than the stream",
         Bytes().i32(0).i32(kRecordLog).i32(1 << 30).i32(0).i32(1).text("cut.log").chars("no terminator").v,
         [](const AppSettings& s) {
             EXPECT_EQ(s.logFile, "cut.log");
             EXPECT_EQ(s.logTemplate, Fresh().logTemplate);
         }},
        {"general block cut after the port",
         Bytes().record(kRecordGeneral, Bytes().i32(20).zeros(32).i32(9).i32(9).i32(9).raw({0x37, 0x13, 0xFF}).v).v,
         [](const AppSettings& s) {
             EXPECT_EQ(s.queryTimerSeconds, 9);
             EXPECT_EQ(s.probePort, 0x1337);
             EXPECT_EQ(s.optionFlags, kFreshOptionFlags);
         }},
        {"long texts in the general record are cut to 255 bytes",
         Bytes().record(kRecordGeneral, Bytes().zeros(364).text(std::string(300, 'a')).text("").text(std::string(256, 'f'))
                                            .chars("no terminator").v).v,
         [](const AppSettings& s) {
             EXPECT_EQ(s.reservedText1, std::string(255, 'a'));
             EXPECT_EQ(s.messengerFrom, std::string(255, 'f'));
             EXPECT_EQ(s.messengerTestText, Fresh().messengerTestText);
             EXPECT_EQ(s.generalReserved70, 3);  // stored 0
         }},
        {"header cut short", Bytes().record(kRecordSyslog, syslogPayload(0, 0)).zeros(11).v,
         [](const AppSettings& s) { EXPECT_EQ(s.syslogMessage, "msg"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeRegistry reg;
        PutStream(reg, c.stream);
        const auto [rc, loaded] = Load(reg);
        EXPECT_EQ(rc, 0);
        c.check(loaded);
    }
}

// --- Crashes during a save ----------------------------------------------------------------------

TEST(SettingsStoreCrash, ASaveCutShortAtAnyStepLeavesTheOldOrTheNewConfiguration) {
    const AppSettings before = AllChanged();
    AppSettings after = AllChanged();
    after.queryTimerSeconds = 99;
    after.mailBody.assign(2500, 'n');  // several chunks
    after.segments.pop_back();

    const std::string diskDir = (test::TempHome() / "crash" / "quorvane").string();
    struct Mode {
        const char* what;
        bool onDisk;
        FaultyFileOps::Mode fault;
        bool powerLoss;
    };
    const Mode modes[] = {
        {"power loss", false, FaultyFileOps::Mode::dieAt, true},
        {"one failed step", false, FaultyFileOps::Mode::failOne, false},
        {"process killed, real disk", true, FaultyFileOps::Mode::dieAt, false},
        {"one failed step, real disk", true, FaultyFileOps::Mode::failOne, false},
    };
    for (const Mode& mode : modes) {
        int steps = 0;
        for (int k = 1; k < 100; ++k) {
            SCOPED_TRACE(std::string(mode.what) + ", step " + std::to_string(k));
            MemFileOps mem;
            FileOps& base = mode.onDisk ? SystemFileOps() : static_cast<FileOps&>(mem);
            const std::string path = mode.onDisk ? diskDir + "/registry.reg" : "/home/u/.config/quorvane/registry.reg";
            if (mode.onDisk) std::filesystem::remove_all(diskDir);
            {
                FileRegistry clean(path, base);
                AppSettings s = before;
                ASSERT_EQ(SettingsStore(s, nullptr, clean).SaveSettings(), 1);
            }
            FaultyFileOps faulty(base);
            FileRegistry reg(path, faulty);
            AppSettings s = after;
            SettingsStore store(s, nullptr, reg);
            faulty.FailAt(k, mode.fault);
            const int saved = store.SaveSettings();
            if (mode.powerLoss) mem.Crash();

            FileRegistry next(path, base);
            const auto [rc, loaded] = Load(next);
            ASSERT_EQ(rc, 0);
            const bool old = Differences(loaded, before).empty();
            const bool fresh = Differences(loaded, after).empty();
            EXPECT_TRUE(old || fresh);
            if (saved == 0) {
                EXPECT_TRUE(old);
            }
            if (!faulty.tripped()) {
                EXPECT_EQ(saved, 1);
                EXPECT_TRUE(fresh);
                steps = k - 1;
                break;
            }
        }
        EXPECT_GE(steps, 7) << mode.what;  // read, folder, temp removal, create, write, sync, close, rename, folder sync
    }
}

// --- Damaged files and run at log-on ------------------------------------------------------------

class SettingsStoreFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(test::TempHome() / ".config");
        std::filesystem::create_directories(test::TempHome() / ".config");
    }
    std::filesystem::path Config() const { return test::TempHome() / ".config"; }
};

TEST_F(SettingsStoreFiles, AMalformedFileIsKeptAsideAndTheDefaultsStay) {
    std::filesystem::create_directories(Config() / "quorvane");
    const std::string bad =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Quorvane]\r\n\"MaxLength\"=hex:04,00,00\r\nnot a value\r\n";
    std::ofstream(Config() / "quorvane" / "registry.reg", std::ios::binary) << bad;

    AppSettings s = Fresh();
    SettingsStore store(s, nullptr);
    EXPECT_EQ(store.LoadAtStartup(), kStoreUnreadable);
    EXPECT_EQ(Differences(s, Fresh()), Names{});
    EXPECT_EQ(ReadFile(Config() / "quorvane" / "registry.reg.bad"), bad);
    EXPECT_TRUE(std::filesystem::exists(Config() / "autostart" / "quorvane.desktop"));

    s.logFile = "kept.log";
    ASSERT_EQ(store.SaveSettings(), 1);
    EXPECT_EQ(ReadFile(Config() / "quorvane" / "registry.reg.bad"), bad);
    std::filesystem::remove(Config() / "autostart" / "quorvane.desktop");

    AppSettings next = Fresh();
    EXPECT_EQ(SettingsStore(next, nullptr).LoadAtStartup(), 0);
    EXPECT_EQ(next.logFile, "kept.log");
    EXPECT_FALSE(std::filesystem::exists(Config() / "autostart" / "quorvane.desktop"));
    const std::string text = ReadFile(Config() / "quorvane" / "registry.reg");
    EXPECT_EQ(text.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Quorvane]\r\n\"item0\"=hex:", 0), 0u) << text;
}

TEST_F(SettingsStoreFiles, RunAtLogonNamesThisProgramInAnAutostartEntry) {
    EXPECT_EQ(AutostartEntry("/opt/quorvane/bin/quorvane"),
              "[Desktop Entry]\nType=Application\nName=Quorvane\nExec=\"/opt/quorvane/bin/quorvane\"\n");
    // Quoting reserves " ` $ \ and field codes take %; the value escapes then double the backslashes.
    EXPECT_EQ(AutostartEntry("/my apps/a\"b`c$d\\e%f"),
              "[Desktop Entry]\nType=Application\nName=Quorvane\nExec=\"/my apps/a\\\\\"b\\\\`c\\\\$d\\\\\\\\e%%f\"\n");

    EXPECT_EQ(RegisterRunAtLogon(), 1);
    const auto exe = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(ReadFile(Config() / "autostart" / "quorvane.desktop"), AutostartEntry(exe));
    EXPECT_EQ(AutostartEntryPath(), (Config() / "autostart" / "quorvane.desktop").string());

    // A folder that cannot be made: nothing is written, and still 1.
    MemFileOps mem;
    FaultyFileOps faulty(mem);
    faulty.FailAt(1, FaultyFileOps::Mode::dieAt);
    EXPECT_EQ(RegisterRunAtLogon("/x", faulty), 1);
    EXPECT_TRUE(mem.Names().empty());
}

}  // namespace
}  // namespace quorvane
