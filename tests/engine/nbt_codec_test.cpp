// Node status query bytes, reply acceptance, parsing of short and truncated datagrams, the name
// selection rules, and a real nmbd reply checked against nmblookup's reading of it.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "engine/nbt_codec.h"
#include "tests/support/nbt_reply_builder.h"
#include "tests/support/test_env.h"

namespace quorvane {
namespace {

using test::BuildReply;
using test::ReplyName;
using Bytes = std::vector<uint8_t>;

ReplyName U(const std::string& name, uint8_t suffix) { return {name, suffix, false}; }
ReplyName G(const std::string& name, uint8_t suffix) { return {name, suffix, true}; }

std::optional<NbName> Name(const char* text) {
    if (!text) return std::nullopt;
    return MakeNbName(text);
}

// ---------------------------------------------------------------------------------------------
// Query

TEST(NbtQuery, BytesAndStamp) {
    std::array<uint8_t, kQueryLength> expected{};
    const uint8_t header[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::copy(std::begin(header), std::end(header), expected.begin());
    const std::string question = " CKAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";  // length byte 0x20 first
    ASSERT_EQ(question.size(), 33u);
    std::copy(question.begin(), question.end(), expected.begin() + 12);
    expected[45] = 0x00;
    expected[46] = 0x00, expected[47] = 0x21;  // NBSTAT
    expected[48] = 0x00, expected[49] = 0x01;  // IN

    QueryDatagram q;
    q.fill(0xAB);  // whatever was there before must not survive
    BuildNodeStatusQuery(q);
    EXPECT_EQ(q, expected);

    struct Stamp {
        uint16_t slot;
        uint8_t b0, b1;
    };
    for (const Stamp s : {Stamp{258, 0x02, 0x01}, Stamp{0xFFFF, 0xFF, 0xFF}, Stamp{1, 0x01, 0x00}}) {
        StampQuery(q, s.slot);
        EXPECT_EQ(q[0], s.b0) << s.slot;
        EXPECT_EQ(q[1], s.b1) << s.slot;
        EXPECT_TRUE(std::equal(q.begin() + 2, q.end(), expected.begin() + 2)) << "stamping touched more than the id";
        EXPECT_EQ(ReplyTransactionId(q), s.slot) << "a reply echoing the query must name the same slot";
    }
}

// ---------------------------------------------------------------------------------------------
// Acceptance

TEST(NbtReply, Acceptance) {
    const Bytes valid = BuildReply(7, test::WorkstationNames("WS1", "OFFICE", "ALICE"));
    struct Case {
        const char* what;
        void (*corrupt)(Bytes&);
        bool accepted;
    };
    const Case cases[] = {
        {"valid reply", [](Bytes&) {}, true},
        {"R bit clear", [](Bytes& d) { d[2] &= 0x7F; }, false},
        {"R bit alone", [](Bytes& d) { d[2] = 0x80, d[3] = 0x00; }, true},
        {"ANCOUNT 0", [](Bytes& d) { d[6] = 0, d[7] = 0; }, false},
        {"ANCOUNT 256 (high byte)", [](Bytes& d) { d[6] = 1, d[7] = 0; }, true},
        {"empty datagram", [](Bytes& d) { d.clear(); }, false},
        {"1 byte", [](Bytes& d) { d.resize(1); }, false},
        {"ends after the flags", [](Bytes& d) { d.resize(3); }, false},
        {"ANCOUNT cut in half", [](Bytes& d) { d.resize(7); }, false},
        {"ends after ANCOUNT", [](Bytes& d) { d.resize(8); }, true},  // parse then finds no names
    };
    for (const Case& c : cases) {
        Bytes d = valid;
        c.corrupt(d);
        d.shrink_to_fit();  // a read past the end is caught by the sanitizers
        EXPECT_EQ(AcceptNodeStatusReply(d), c.accepted) << c.what;
    }

    EXPECT_EQ(ReplyTransactionId(Bytes{}), std::nullopt);
    EXPECT_EQ(ReplyTransactionId(Bytes{0x02}), std::nullopt);
    EXPECT_EQ(ReplyTransactionId(Bytes{0x02, 0x01}), 0x0102);
}

// ---------------------------------------------------------------------------------------------
// Parsing short and truncated datagrams

// WS1<00>, OFFICE<00> group, WS1<20>, UNIT_ID, 40 bytes of statistics: 57 + 54 + 6 + 40 = 157.
Bytes ThreeNameReply() {
    return BuildReply(0x0102, {U("WS1", 0x00), G("OFFICE", 0x00), U("WS1", 0x20)}, {0x02, 0x00, 0x5E, 1, 2, 3});
}

// Fills the view with a reply of many names and a MAC, as a reused receive buffer would be.
NodeStatusReply UsedView() {
    NodeStatusReply r;
    const Bytes big = BuildReply(9, {U("OLD1", 0), U("OLD2", 0), U("OLD3", 0), U("OLD4", 0), U("OLD5", 0),
                                     U("OLD6", 0), U("OLD7", 0), U("OLD8", 0)});
    EXPECT_TRUE(ParseNodeStatusReply(big, r));
    EXPECT_EQ(r.nameCount, 8);
    EXPECT_TRUE(r.unitId.has_value());
    return r;
}

TEST(NbtReply, ParsesHeaderNamesAndUnitId) {
    const Bytes d = ThreeNameReply();
    NodeStatusReply r;
    ASSERT_TRUE(ParseNodeStatusReply(d, r));
    EXPECT_EQ(r.transactionId, 0x0102);
    EXPECT_TRUE(r.isResponse);
    EXPECT_EQ(r.answerCount, 1);
    ASSERT_EQ(r.nameCount, 3);
    EXPECT_EQ(r.names[0], (NodeName{MakeNbName("WS1"), 0x00, 0x04}));
    EXPECT_EQ(r.names[1], (NodeName{MakeNbName("OFFICE"), 0x00, 0x84}));
    EXPECT_TRUE(r.names[1].group());
    EXPECT_EQ(r.names[2], (NodeName{MakeNbName("WS1"), 0x20, 0x04}));
    EXPECT_EQ(r.unitId, (MacAddress{0x02, 0x00, 0x5E, 1, 2, 3}));
}

TEST(NbtReply, ShortAndTruncatedDatagrams) {
    const Bytes full = ThreeNameReply();
    ASSERT_EQ(full.size(), 157u);
    struct Case {
        const char* what;
        size_t length;
        int numNames;  // NUM_NAMES written into the datagram; -1 keeps 3
        bool parsed;
        int names;  // complete entries expected
        bool mac;
    };
    const Case cases[] = {
        {"empty", 0, -1, false, 0, false},
        {"header only", 12, -1, false, 0, false},
        {"one byte short of NUM_NAMES", 56, -1, false, 0, false},
        {"ends with NUM_NAMES", 57, -1, true, 0, false},
        {"first entry one byte short", 74, -1, true, 0, false},
        {"first entry complete", 75, -1, true, 1, false},
        {"last entry one byte short", 110, -1, true, 2, false},
        {"all entries, no UNIT_ID", 111, -1, true, 3, false},
        {"UNIT_ID one byte short", 116, -1, true, 3, false},
        {"exactly enough for the UNIT_ID", 117, -1, true, 3, true},
        {"whole datagram", 157, -1, true, 3, true},
        {"NUM_NAMES larger than what arrived", 157, 10, true, 5, false},
        {"NUM_NAMES 4: exactly enough for the UNIT_ID", 135, 4, true, 4, true},
        {"NUM_NAMES 4: UNIT_ID one byte short", 134, 4, true, 4, false},
        {"NUM_NAMES 1: UNIT_ID read where it says", 157, 1, true, 1, true},
        {"NUM_NAMES 0 with entries following", 157, 0, true, 0, true},
        {"NUM_NAMES 0, nothing after it but the UNIT_ID", 63, 0, true, 0, true},
        {"NUM_NAMES 255 in a 1500-byte datagram", kMaxDatagram, 255, true, 80, false},
    };
    for (const Case& c : cases) {
        Bytes source = full;
        source.resize(std::max(source.size(), c.length), 0x5A);
        if (c.numNames >= 0) source[56] = static_cast<uint8_t>(c.numNames);
        const Bytes d(source.begin(), source.begin() + static_cast<long>(c.length));  // exact size

        NodeStatusReply r = UsedView();
        EXPECT_EQ(ParseNodeStatusReply(d, r), c.parsed) << c.what;
        EXPECT_EQ(r.nameCount, c.names) << c.what;
        for (int k = 0; k < r.nameCount; ++k) {
            const size_t off = 57 + 18 * static_cast<size_t>(k);
            EXPECT_TRUE(std::equal(r.names[k].name.begin(), r.names[k].name.end(), source.begin() + off)) << c.what;
            EXPECT_EQ(r.names[k].suffix, source[off + 15]) << c.what;
            EXPECT_EQ(r.names[k].flags, source[off + 16]) << c.what;
        }
        ASSERT_EQ(r.unitId.has_value(), c.mac) << c.what;
        if (c.mac) {
            const size_t off = 57 + 18 * size_t{source[56]};
            EXPECT_TRUE(std::equal(r.unitId->begin(), r.unitId->end(), source.begin() + off)) << c.what;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Name selection

struct SelectCase {
    const char* what;
    std::vector<ReplyName> names;
    const char* storedHost;
    const char* storedGroup;
    const char* storedUser;
    const char* host;  // expected new values; nullptr for none
    const char* group;
    const char* user;
};

TEST(NbtSelect, Rules) {
    const auto ws = [](const char* user) { return test::WorkstationNames("WS1", "OFFICE", user); };
    const std::string browse = "\x01\x02__MSBROWSE__\x02";
    const SelectCase cases[] = {
        // The worked examples.
        {"never-seen host", ws("ALICE"), "", "", "", "WS1", "OFFICE", "ALICE"},
        {"same reply as stored", ws("ALICE"), "WS1", "OFFICE", "ALICE", nullptr, nullptr, nullptr},
        {"last user name changed", ws("BOB"), "WS1", "OFFICE", "ALICE", nullptr, nullptr, "BOB"},
        {"only <03> is the host's own", {U("WS1", 0), U("WS1", 0x20), U("WS1", 3)}, "", "", "", "WS1", nullptr, "WS1"},

        // Host name pairs and the fall-back to the first <00>.
        {"a later pair decides", {U("A", 0), U("B", 0), U("B", 0x20)}, "", "", "", "B", nullptr, nullptr},
        {"later pair equals stored: first <00>", {U("A", 0), U("B", 0), U("B", 0x20)}, "B", "", "", "A", nullptr, nullptr},
        {"partner must come later", {U("B", 0x20), U("A", 0), U("B", 0)}, "", "", "", "A", nullptr, nullptr},
        {"partner must be unique", {U("A", 0), U("B", 0), G("B", 0x20)}, "", "", "", "A", nullptr, nullptr},
        {"no pair, first <00> stored: no look further", {U("A", 0), U("B", 0)}, "A", "", "", nullptr, nullptr, nullptr},
        {"case differs: no pair", {U("A", 0), U("ws1", 0), U("WS1", 0x20)}, "", "", "", "A", nullptr, nullptr},
        {"case differs from stored", {U("ws1", 0), U("ws1", 0x20), U("alice", 3)}, "WS1", "", "ALICE", "ws1", nullptr, "alice"},

        // Work group: the same with group names and <1E>.
        {"second group <00> has the <1E>", {G("G1", 0), G("G2", 0), G("G2", 0x1E)}, "", "", "", nullptr, "G2", nullptr},
        {"group pair equals stored: first <00>", {G("G1", 0), G("G2", 0), G("G2", 0x1E)}, "", "G2", "", nullptr, "G1", nullptr},
        {"group partner must be a group", {G("G1", 0), G("G2", 0), U("G2", 0x1E)}, "", "", "", nullptr, "G1", nullptr},
        {"group <00> is never the host", {G("WS1", 0), U("WS1", 0x20)}, "", "", "", nullptr, "WS1", nullptr},
        {"no <00> or <03> names", {U("WS1", 0x20), G("OFFICE", 0x1E), G(browse, 0x01)}, "", "", "", nullptr, nullptr, nullptr},
        {"no names at all", {}, "WS1", "OFFICE", "ALICE", nullptr, nullptr, nullptr},

        // User names.
        {"group <03> is no user", {U("WS1", 0), U("WS1", 0x20), G("STAFF", 3)}, "WS1", "", "", nullptr, nullptr, nullptr},
        {"new host: later user equal to it is skipped", {U("WS2", 0), U("WS2", 0x20), U("CAROL", 3), U("WS2", 3)}, "WS1", "", "ALICE", "WS2", nullptr, "CAROL"},
        {"new host: the stored user still there is no change", {U("WS2", 0), U("WS2", 0x20), U("CAROL", 3), U("ALICE", 3)}, "WS1", "", "ALICE", "WS2", nullptr, nullptr},
        {"renamed host, same user: no user change", {U("WS2", 0), U("WS2", 0x20), U("WS2", 3), U("ALICE", 3)}, "WS1", "", "ALICE", "WS2", nullptr, nullptr},
        {"new host: last other user wins", {U("WS2", 0), U("WS2", 0x20), U("WS2", 3), U("DAVE", 3), U("EVE", 3)}, "WS1", "", "ALICE", "WS2", nullptr, "EVE"},
        {"same host: later user equal to stored clears", {U("WS1", 0), U("WS1", 0x20), U("CAROL", 3), U("ALICE", 3)}, "WS1", "", "ALICE", nullptr, nullptr, nullptr},
        {"same host: cleared, then set again", {U("WS1", 0), U("WS1", 0x20), U("CAROL", 3), U("ALICE", 3), U("DAVE", 3)}, "WS1", "", "ALICE", nullptr, nullptr, "DAVE"},

        // A user name that only repeats the stored one is no change (not "changed from X to X").
        {"only user equals stored", {U("WS1", 0), U("WS1", 0x20), U("ALICE", 3)}, "WS1", "", "ALICE", nullptr, nullptr, nullptr},
        {"only user equals stored, new host", {U("WS2", 0), U("WS2", 0x20), U("ALICE", 3)}, "WS1", "", "ALICE", "WS2", nullptr, nullptr},
        {"stored user first, then the new host's", {U("WS2", 0), U("WS2", 0x20), U("ALICE", 3), U("WS2", 3)}, "WS1", "", "ALICE", "WS2", nullptr, nullptr},
    };
    const MacAddress mac{0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
    for (const SelectCase& c : cases) {
        const Bytes d = BuildReply(1, c.names, mac);
        NodeStatusReply reply;
        ASSERT_TRUE(ParseNodeStatusReply(d, reply)) << c.what;
        const StoredNames stored{MakeNbName(c.storedGroup), MakeNbName(c.storedHost), MakeNbName(c.storedUser), mac};
        const SelectedNames got = SelectNames(reply, stored);
        EXPECT_EQ(got.hostName, Name(c.host)) << c.what;
        EXPECT_EQ(got.groupName, Name(c.group)) << c.what;
        EXPECT_EQ(got.userName, Name(c.user)) << c.what;
        EXPECT_EQ(got.mac, std::nullopt) << c.what;
    }
}

TEST(NbtSelect, Mac) {
    const MacAddress mac{0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
    const MacAddress other{0x02, 0x00, 0x5E, 0x10, 0x20, 0x31};
    const StoredNames storedOther{{}, {}, {}, other};
    NodeStatusReply reply;

    // No names: a MAC that differs is the only new value.
    const Bytes empty = BuildReply(1, {}, mac);
    ASSERT_TRUE(ParseNodeStatusReply(Bytes(empty.begin(), empty.begin() + 63), reply));
    EXPECT_EQ(SelectNames(reply, storedOther), (SelectedNames{std::nullopt, std::nullopt, std::nullopt, mac}));
    EXPECT_FALSE(SelectNames(reply, StoredNames{{}, {}, {}, mac}).any());

    // Names arrived but the datagram ends before the UNIT_ID: the stored MAC stays.
    const Bytes full = BuildReply(1, test::WorkstationNames("WS1", "OFFICE", "ALICE"), mac);
    ASSERT_TRUE(ParseNodeStatusReply(Bytes(full.begin(), full.begin() + 57 + 6 * 18 + 5), reply));
    const SelectedNames got = SelectNames(reply, storedOther);
    EXPECT_EQ(got.hostName, MakeNbName("WS1"));
    EXPECT_EQ(got.mac, std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// A real reply: nmbd's answer to our own query, and nmblookup's listing of the same peer
// (tools/make_nmbd_fixture.sh made both).

struct ListedName {
    std::string name;  // 15 characters as nmblookup prints them, non-printables as '.'
    uint8_t suffix;
    bool group;
};

// One name line of `nmblookup -A`: tab, name (15), " <", suffix (2 hex), "> - ", "<GROUP>" or 7
// spaces, " ", node type, " <ACTIVE>".
std::optional<ListedName> ParseListedName(const std::string& line) {
    if (line.size() < 42 || line[0] != '\t' || line.compare(16, 2, " <") != 0 || line.compare(20, 4, "> - ") != 0 ||
        line.compare(31, 1, " ") != 0 || line.compare(33, 9, " <ACTIVE>") != 0)
        return std::nullopt;
    const std::string hex = line.substr(18, 2);
    const std::string flags = line.substr(24, 7);
    if (!std::isxdigit(static_cast<unsigned char>(hex[0])) || !std::isxdigit(static_cast<unsigned char>(hex[1])) ||
        (flags != "<GROUP>" && flags != "       "))
        return std::nullopt;
    return ListedName{line.substr(1, 15), static_cast<uint8_t>(std::stoul(hex, nullptr, 16)), flags == "<GROUP>"};
}

Bytes ReadBinary(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(NbtReply, RealNmbdReplyMatchesNmblookup) {
    const auto dir = test::SourceDir() / "tests/engine/data";
    const Bytes d = ReadBinary(dir / "nmbd_node_status.bin");
    std::ifstream text(dir / "nmbd_node_status.nmblookup.txt");
    ASSERT_FALSE(d.empty()) << "missing fixture in " << dir;
    ASSERT_TRUE(text) << "missing fixture in " << dir;

    std::vector<ListedName> listed;
    std::optional<MacAddress> listedMac;
    std::string line;
    while (std::getline(text, line)) {
        if (line.find("<ACTIVE>") != std::string::npos) {
            const auto entry = ParseListedName(line);
            ASSERT_TRUE(entry) << "nmblookup line not understood: " << line;
            listed.push_back(*entry);
        } else if (line.rfind("\tMAC Address = ", 0) == 0) {
            unsigned v[6];
            ASSERT_EQ(std::sscanf(line.c_str(), "\tMAC Address = %2x-%2x-%2x-%2x-%2x-%2x", &v[0], &v[1], &v[2], &v[3],
                                  &v[4], &v[5]), 6) << line;
            MacAddress mac;
            for (int k = 0; k < 6; ++k) mac[k] = static_cast<uint8_t>(v[k]);
            listedMac = mac;
        }
    }
    ASSERT_EQ(listed.size(), 7u) << "nmblookup listing not understood";
    ASSERT_TRUE(listedMac);

    ASSERT_TRUE(AcceptNodeStatusReply(d));
    NodeStatusReply reply;
    ASSERT_TRUE(ParseNodeStatusReply(d, reply));
    EXPECT_EQ(reply.transactionId, 0x0102);  // what the capture tool stamped
    ASSERT_EQ(reply.nameCount, listed.size());
    EXPECT_EQ(reply.declaredNames, listed.size());
    for (size_t k = 0; k < listed.size(); ++k) {
        std::string shown;
        for (uint8_t b : reply.names[k].name) shown += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
        EXPECT_EQ(shown, listed[k].name) << k;
        EXPECT_EQ(reply.names[k].suffix, listed[k].suffix) << listed[k].name;
        EXPECT_EQ(reply.names[k].group(), listed[k].group) << listed[k].name;
    }
    EXPECT_EQ(reply.unitId, listedMac);

    // nmbd sends no real MAC (all zero), which is what a never-seen host stores: no new MAC.
    const SelectedNames fresh = SelectNames(reply, StoredNames{});
    EXPECT_EQ(fresh.hostName, MakeNbName("QV-NMBD-PEER"));
    EXPECT_EQ(fresh.groupName, MakeNbName("QVLAB"));
    EXPECT_EQ(fresh.userName, MakeNbName("QV-NMBD-PEER"));
    EXPECT_EQ(fresh.mac, std::nullopt);
    const StoredNames known{MakeNbName("QVLAB"), MakeNbName("QV-NMBD-PEER"), MakeNbName("QV-NMBD-PEER"), *listedMac};
    EXPECT_FALSE(SelectNames(reply, known).any());

    // Our test builder makes the same bytes from the same table, so the hand-built replies above
    // look like real ones.
    std::vector<ReplyName> names;
    for (size_t k = 0; k < reply.nameCount; ++k) {
        const NodeName& n = reply.names[k];
        names.push_back({std::string(n.name.begin(), n.name.end()), n.suffix, n.group()});
    }
    EXPECT_EQ(BuildReply(0x0102, names, *reply.unitId), d);
}

}  // namespace
}  // namespace quorvane
