#include "notify/macro_expansion.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/vendor_table.h"
#include "tests/support/event_host.h"

namespace quorvane {
namespace {

using test::Padded;

class MacroExpansion : public testing::Test {
protected:
    std::unique_ptr<HostEntry> host = test::MakeEventHost("192.168.1.5", "PC1");
    AppSettings settings;
    const std::string downText = "Host is down of " + Padded("PC1");

    std::string Expand(std::string text, std::string_view eventText, std::string_view timeText = "Mon, 2024-01-01 10:00:00") {
        MacroContext context(*host, timeText, settings);
        ExpandMacros(context, *host, eventText, text);
        return text;
    }
};

TEST_F(MacroExpansion, TemplatesExpandWithNamesKeepingTheirPadding) {
    const std::string pc1 = Padded("PC1");
    struct Case {
        const char* templ;
        std::string expected;
    } cases[] = {
        {"<EVENT>;<IP_ADDR>;<HOST_NAME>", downText + ";192.168.1.5;" + pc1},
        {"<IP_ADDR> and <IP_ADDR>", "192.168.1.5 and 192.168.1.5"},
        {"no macro here, <ip_addr> is not one, nor <IP_ADDR", "no macro here, <ip_addr> is not one, nor <IP_ADDR"},
        {"", ""},
        {"<<IP_ADDR>>", "<192.168.1.5>"},
        {"<GROUP_NAME>|<USER_NAME>|<MAC_ADDR>|<DATE_TIME>",
         Padded("WORKGROUP") + "|" + Padded("ALICE") + "|00-1A-2B-3C-4D-5E|Mon, 2024-01-01 10:00:00"},
        {"[<NIC_VENDOR>]", "[<NIC_VENDOR>]"},  // no vendor: left as written
        {"[<FIRST_TIME>][<STARTUP_TIME>][<SHUTDOWN_TIME>][<DESCRIPTION>]", "[][][][]"},  // times 0, no description
    };
    for (const Case& c : cases) EXPECT_EQ(Expand(c.templ, downText), c.expected) << c.templ;
}

TEST_F(MacroExpansion, VendorAndHostTimes) {
    VendorEntry vendor{{0x00, 0x1A, 0x2B}, {0x00, 0x1A, 0x2B}, 0, "Acme Networks"};
    host->vendor = &vendor;
    host->firstFoundTime = 1700000000;  // Tue, 2023-11-14 22:13:20 UTC
    host->startupTime = 1700000060;
    EXPECT_EQ(Expand("<NIC_VENDOR>/<FIRST_TIME>/<STARTUP_TIME>/<SHUTDOWN_TIME>", downText),
              "Acme Networks/Tue, 2023-11-14 22:13:20/Tue, 2023-11-14 22:14:20/");
}

TEST_F(MacroExpansion, HostTimesAreThoseOfWhenTheContextWasMade) {
    MacroContext context(*host, "t", settings);
    host->shutdownTime = 1700000000;
    std::string text = "[<SHUTDOWN_TIME>]";
    ExpandMacros(context, *host, downText, text);
    EXPECT_EQ(text, "[]");
}

TEST_F(MacroExpansion, LaterMacrosInValuesAreReplacedEarlierOnesAndTheEventTextAreNot) {
    test::PutDescription(*host, "see <EVENT>");
    EXPECT_EQ(Expand("<DESCRIPTION>", downText), "see " + downText);
    EXPECT_EQ(Expand("<EVENT>", "odd <IP_ADDR> <EVENT> <HOST_NAME>"), "odd <IP_ADDR> <EVENT> <HOST_NAME>");
}

TEST_F(MacroExpansion, AValueHoldingItsOwnMacroNameIsInsertedOnce) {
    test::PutDescription(*host, "x<DESCRIPTION>y");
    EXPECT_EQ(Expand("<DESCRIPTION><DESCRIPTION>", downText), "x<DESCRIPTION>yx<DESCRIPTION>y");
    test::PutName(host->hostName, "<HOST_NAME>");
    EXPECT_EQ(Expand("<HOST_NAME>", downText), Padded("<HOST_NAME>"));
}

TEST_F(MacroExpansion, NameEndsAtItsZeroByte) {
    host->userName.fill(0);
    std::memcpy(host->userName.data(), "BOB", 3);
    EXPECT_EQ(Expand("[<USER_NAME>]", downText), "[BOB]");
}

TEST_F(MacroExpansion, MacTextFollowsTheFormatSettingsAndIsKeptInTheHost) {
    settings.setMacSeparatorStyle(1);
    settings.setMacUpperCase(0);
    EXPECT_EQ(Expand("<MAC_ADDR>", downText), "001a.2b3c.4d5e");
    EXPECT_STREQ(host->macText, "001a.2b3c.4d5e");
    settings.setMacSeparatorStyle(0);
    settings.setMacUpperCase(1);
    Expand("no mac here", downText);  // made on every expansion
    EXPECT_STREQ(host->macText, "00-1A-2B-3C-4D-5E");
}

TEST_F(MacroExpansion, TextsOfAnyLength) {
    std::string templ;
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        templ += "<IP_ADDR>:<EVENT>|";
        expected += "192.168.1.5:" + std::string(1000, 'e') + "|";
    }
    test::PutDescription(*host, std::string(200, 'd'));  // longer than the field: kept to 87
    EXPECT_EQ(Expand(templ, std::string(1000, 'e')), expected);
    EXPECT_EQ(Expand("<DESCRIPTION>", downText), std::string(87, 'd'));
}

TEST_F(MacroExpansion, EachChannelExpandsIntoItsOwnSlots) {
    settings.boxTitle = "T <IP_ADDR>";
    settings.boxText = "B <IP_ADDR>";
    settings.execParameters = "P <IP_ADDR>";
    settings.logTemplate = "L <IP_ADDR>";
    settings.mailSubject = "S <IP_ADDR>";
    settings.mailBody = "M <IP_ADDR>";
    settings.messengerMessage = "N <IP_ADDR>";
    settings.syslogMessage = "Y <IP_ADDR>";
    MacroContext c(*host, "t", settings);
    c.ExpandLog(*host, downText);
    EXPECT_EQ(c.logLine, "L 192.168.1.5");
    EXPECT_TRUE(c.boxTitle.empty() && c.mailBody.empty() && c.syslogMessage.empty());
    c.ExpandBox(*host, downText);
    c.ExpandProgram(*host, downText);
    c.ExpandMail(*host, downText);
    c.ExpandMessenger(*host, downText);
    c.ExpandSyslog(*host, downText);
    EXPECT_EQ(c.boxTitle + c.boxText + c.programParameters + c.mailSubject + c.mailBody + c.messengerMessage +
                  c.syslogMessage,
              "T 192.168.1.5B 192.168.1.5P 192.168.1.5S 192.168.1.5M 192.168.1.5N 192.168.1.5Y 192.168.1.5");
    EXPECT_EQ(settings.logTemplate, "L <IP_ADDR>");  // templates stay as they are
}

}  // namespace
}  // namespace quorvane
