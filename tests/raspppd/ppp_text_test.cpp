// pppd's word rules, our peer files and the user's credentials store, as
// functions over strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/raspppd/PppText.h"

namespace nebrin::pppd {
namespace {

// Values that must survive pppd's word rules unchanged.
const std::vector<std::string> kAwkwardValues = {
    "plain",      "with blank",  "two  blanks\tand tab",
    "\"quoted\"", "it's",        "#not a comment",
    "a#b",        "back\\slash", "\\n is not a newline",
    "trailing\\", "\\",          "\"",
    "",           "  edges  ",   "za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87",
    "\x01\x7f",   "*",           "@ inside",
};

TEST(PppWords, QuotedValuesReadBackExactly) {
    for (const std::string& v : kAwkwardValues) {
        const std::string line = "user " + QuoteWord(v) + " # comment\n";
        const std::vector<std::string> words = SplitWords(line);
        ASSERT_EQ(words.size(), 2u) << line;
        EXPECT_EQ(words[1], v) << line;
    }
}

TEST(PppWords, FollowsPppdRulesForOthersFiles) {
    struct Case {
        std::string text;
        std::vector<std::string> words;
    };
    const std::vector<Case> cases = {
        {"a b\tc", {"a", "b", "c"}},
        {"# all comment\nx", {"x"}},
        {"a # rest \"ignored", {"a"}},
        {"\"a b\"c d", {"a bc", "d"}},
        {"a\\ b", {"a b"}},
        {"\"\"", {""}},
        {"\"multi\nline\" next", {"multi\nline", "next"}},
        {"cont\\\ninued", {"continued"}},
        {"\"unterminated", {"unterminated"}},
        {"end\\", {"end"}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitWords(c.text), c.words) << c.text;
}

TEST(PppWords, LogicalLinesCoverEveryByte) {
    const std::string text = "a b\n\"two\nlines\" x\n\nlast";
    const std::vector<WordLine> lines = SplitWordLines(text);
    ASSERT_EQ(lines.size(), 4u);
    std::size_t pos = 0;
    for (const WordLine& l : lines) {
        EXPECT_EQ(l.begin, pos);
        pos = l.end;
    }
    EXPECT_EQ(pos, text.size());
    EXPECT_EQ(lines[1].words, (std::vector<std::string>{"two\nlines", "x"}));
    EXPECT_TRUE(lines[2].words.empty());
}

TEST(PppValues, RefusalsName) {
    struct Case {
        Refusal got;
        Refusal want;
    };
    const std::vector<Case> cases = {
        {CheckUserName(""), Refusal::kEmpty},
        {CheckUserName("*"), Refusal::kWildcard},
        {CheckUserName("a\nb"), Refusal::kLineBreak},
        {CheckUserName("a\rb"), Refusal::kLineBreak},
        {CheckUserName(std::string("a\0b", 3)), Refusal::kNul},
        {CheckUserName(std::string(kMaxUserName + 1, 'u')), Refusal::kTooLong},
        {CheckUserName("user@isp \"x\" #1"), Refusal::kOk},
        {CheckPassword(""), Refusal::kOk},
        {CheckPassword("@/etc/shadow"), Refusal::kOk},  // passed through a pipe, never read as a file name
        {CheckPassword(std::string(kMaxPassword + 1, 'p')), Refusal::kTooLong},
        {CheckPassword("mid@/dle"), Refusal::kOk},
        {CheckPassword("p\nw"), Refusal::kLineBreak},
        {CheckPassword(std::string("p\0w", 3)), Refusal::kNul},
        {CheckServiceName(""), Refusal::kOk},
        {CheckServiceName("svc\n"), Refusal::kLineBreak},
        {CheckServiceName(std::string(kMaxServiceName + 1, 's')), Refusal::kTooLong},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
}

TEST(PppValues, EntryNamesArePlainFileNames) {
    for (const std::string& ok :
         std::vector<std::string>{"dsl", "My-ISP_2.0", "a", std::string(kMaxEntryName, 'e'), "-x"})
        EXPECT_TRUE(IsValidEntryName(ok)) << ok;
    const std::vector<std::string> bad = {"",
                                          ".",
                                          "..",
                                          "../etc",
                                          "a/b",
                                          "/abs",
                                          ".hide",
                                          "with space",
                                          "tab\t",
                                          "nl\n",
                                          "ąę",
                                          "star*",
                                          "q\"",
                                          "back\\",
                                          std::string(kMaxEntryName + 1, 'e'),
                                          std::string("n\0l", 3)};
    for (const std::string& name : bad) EXPECT_FALSE(IsValidEntryName(name)) << name;
}

TEST(PeerFile, WritesOnlyThePppoeOptionsAndReadsThemBack) {
    const PeerSettings s{"eth1", "svc \"one\" #2"};
    const std::string text = BuildPeerFile("dsl", s, 1001);
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "# Nebrin PPPoE entry of uid 1001: written by the dialer, changes here are replaced.");
    const PeerInfo info = ReadPeerFile(text);
    EXPECT_TRUE(info.ours);
    EXPECT_EQ(info.ownerUid, 1001u);
    EXPECT_TRUE(info.pppoe);
    EXPECT_TRUE(info.passwordfd);
    EXPECT_EQ(info.interface, "eth1");
    EXPECT_EQ(info.service, s.service);
    EXPECT_EQ(info.user, "");
    EXPECT_EQ(info.linkname, "dsl");

    // Every option word, in order; values are single quoted words; no
    // credentials.
    const std::vector<std::string> want = {"plugin",
                                           "rp-pppoe.so",
                                           "nic-eth1",
                                           "rp_pppoe_service",
                                           s.service,
                                           "plugin",
                                           "passwordfd.so",
                                           "linkname",
                                           "dsl",
                                           "noauth",
                                           "nopersist",
                                           "defaultroute",
                                           "replacedefaultroute",
                                           "usepeerdns",
                                           "noipdefault",
                                           "+ipv6",
                                           "ipparam",
                                           "nebrin",
                                           "lcp-echo-interval",
                                           "10",
                                           "lcp-echo-failure",
                                           "3"};
    EXPECT_EQ(SplitWords(text), want);

    // No service: that option is left out.
    const std::vector<std::string> bare = SplitWords(BuildPeerFile("dsl", PeerSettings{"eth0", ""}, 0));
    EXPECT_EQ(std::count(bare.begin(), bare.end(), "rp_pppoe_service"), 0);
}

TEST(PeerFile, MarkerLinesAndTheirOwners) {
    struct Case {
        std::string first;
        bool ours;
        std::optional<std::uint32_t> owner;
    } cases[] = {
        {std::string(kPeerFileMarker), true, std::nullopt},  // an earlier version's file
        {"# Nebrin PPPoE entry of uid 0: written by the dialer, changes here are replaced.", true, 0u},
        {"# Nebrin PPPoE entry of uid 4294967295: written by the dialer, changes here are replaced.", true,
         4294967295u},
        {"# Nebrin PPPoE entry of uid 4294967296: written by the dialer, changes here are replaced.", false, {}},
        {"# Nebrin PPPoE entry of uid 01: written by the dialer, changes here are replaced.", false, {}},
        {"# Nebrin PPPoE entry of uid -1: written by the dialer, changes here are replaced.", false, {}},
        {"# Nebrin PPPoE entry of uid : written by the dialer, changes here are replaced.", false, {}},
        {"# Nebrin PPPoE entry of uid 5: written by the dialer, changes here are replaced. ", false, {}},
        {"# provider", false, {}},
    };
    for (const Case& c : cases) {
        const PeerInfo info = ReadPeerFile(c.first + "\nplugin rp-pppoe.so\n");
        EXPECT_EQ(info.ours, c.ours) << c.first;
        if (c.ours) {
            EXPECT_EQ(info.ownerUid, c.owner) << c.first;
        }
    }
}

TEST(PeerFile, CheckedBuildRefusesWhatPppdCouldMisread) {
    std::string why;
    EXPECT_FALSE(BuildPeerFileChecked("../x", PeerSettings{"eth0", ""}, 0, &why));
    EXPECT_FALSE(BuildPeerFileChecked("dsl", PeerSettings{"eth0 plugin", ""}, 0, &why));
    EXPECT_FALSE(BuildPeerFileChecked("dsl", PeerSettings{"eth0", "svc\nplugin evil.so"}, 0, &why));
    EXPECT_NE(why.find("line break"), std::string::npos);
    EXPECT_TRUE(BuildPeerFileChecked("dsl", PeerSettings{"eth0", ""}, 0, &why));
}

TEST(PeerFile, ReadsOthersFiles) {
    const PeerInfo info = ReadPeerFile(
        "# provider\nplugin pppoe.so\nnic-enp3s0\npppoe-service \"Fast One\"\nuser \"a b\"  # who\npersist\n");
    EXPECT_FALSE(info.ours);
    EXPECT_TRUE(info.pppoe);
    EXPECT_FALSE(info.passwordfd);
    EXPECT_EQ(info.interface, "enp3s0");
    EXPECT_EQ(info.service, "Fast One");
    EXPECT_EQ(info.user, "a b");
    EXPECT_FALSE(ReadPeerFile("/dev/modem 115200\nuser x\n").pppoe);
    EXPECT_TRUE(ReadPeerFile("plugin /usr/lib/pppd/2.4.9/passwordfd.so\n").passwordfd);
}

TEST(CredentialsFile, OneLinePerEntryFirstWins) {
    const CredentialsTable table = {{"a", {"jan", std::string("p w")}}, {"b", {"", std::nullopt}}};
    const std::string text = BuildCredentialsFile(table);
    EXPECT_NE(text.find("\n\"a\" \"jan\" \"p w\"\n\"b\" \"\"\n"), std::string::npos) << text;
    EXPECT_EQ(ReadCredentialsFile(text), table);
    // Foreign lines are skipped, the first line of an entry counts, the
    // result is sorted.
    EXPECT_EQ(ReadCredentialsFile("z u\n../x u p\nonly\na u p q\nz other\nb \"u\" \"\"\n"),
              (CredentialsTable{{"b", {"u", std::string()}}, {"z", {"u", std::nullopt}}}));
}

}  // namespace
}  // namespace nebrin::pppd
