// pppd's word rules, our peer files and the user's line in a secrets file,
// as functions over strings.
#include <gtest/gtest.h>

#include <algorithm>
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
        {CheckPassword("@/etc/shadow"), Refusal::kSecretFromFile},
        {CheckPassword("@relative"), Refusal::kSecretFromFile},
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
    const PeerSettings s{"eth1", "svc \"one\" #2", "jan@isp \\x"};
    const std::string text = BuildPeerFile("dsl", s);
    const PeerInfo info = ReadPeerFile(text);
    EXPECT_TRUE(info.ours);
    EXPECT_TRUE(info.pppoe);
    EXPECT_EQ(info.interface, "eth1");
    EXPECT_EQ(info.service, s.service);
    EXPECT_EQ(info.user, s.user);
    EXPECT_EQ(info.linkname, "dsl");

    // Every option word, in order; values are single quoted words.
    const std::vector<std::string> want = {"plugin",
                                           "rp-pppoe.so",
                                           "nic-eth1",
                                           "rp_pppoe_service",
                                           s.service,
                                           "user",
                                           s.user,
                                           "linkname",
                                           "dsl",
                                           "noauth",
                                           "nopersist",
                                           "defaultroute",
                                           "usepeerdns",
                                           "noipdefault",
                                           "lcp-echo-interval",
                                           "10",
                                           "lcp-echo-failure",
                                           "3"};
    EXPECT_EQ(SplitWords(text), want);

    // No service and no user yet: those options are left out.
    const std::vector<std::string> bare = SplitWords(BuildPeerFile("dsl", PeerSettings{"eth0", "", ""}));
    EXPECT_EQ(std::count(bare.begin(), bare.end(), "user"), 0);
    EXPECT_EQ(std::count(bare.begin(), bare.end(), "rp_pppoe_service"), 0);
}

TEST(PeerFile, CheckedBuildRefusesWhatPppdCouldMisread) {
    std::string why;
    EXPECT_FALSE(BuildPeerFileChecked("../x", PeerSettings{"eth0", "", ""}, &why));
    EXPECT_FALSE(BuildPeerFileChecked("dsl", PeerSettings{"eth0 plugin", "", ""}, &why));
    EXPECT_FALSE(BuildPeerFileChecked("dsl", PeerSettings{"eth0", "svc\nplugin evil.so", ""}, &why));
    EXPECT_NE(why.find("line break"), std::string::npos);
    EXPECT_FALSE(BuildPeerFileChecked("dsl", PeerSettings{"eth0", "", "*"}, &why));
    EXPECT_TRUE(BuildPeerFileChecked("dsl", PeerSettings{"eth0", "", ""}, &why));
}

TEST(PeerFile, ReadsOthersFiles) {
    const PeerInfo info = ReadPeerFile(
        "# provider\nplugin pppoe.so\nnic-enp3s0\npppoe-service \"Fast One\"\nuser \"a b\"  # who\npersist\n");
    EXPECT_FALSE(info.ours);
    EXPECT_TRUE(info.pppoe);
    EXPECT_EQ(info.interface, "enp3s0");
    EXPECT_EQ(info.service, "Fast One");
    EXPECT_EQ(info.user, "a b");
    EXPECT_FALSE(ReadPeerFile("/dev/modem 115200\nuser x\n").pppoe);
}

TEST(SecretsFile, ReplacesOnlyTheUsersLine) {
    const std::string before =
        "# Secrets for authentication using CHAP\n"
        "# client\tserver\tsecret\t\t\tIP addresses\n"
        "other * \"keep me\"\n"
        "\"jan\" * \"old\" # note\n"
        "jan server-x \"for another server\"\n"
        "\"multi\nline\" * x\n"
        "   \n"
        "last * y";  // no final line feed
    const std::string after = ReplaceSecret(before, "jan", std::string("n\"ew #"));
    EXPECT_EQ(after,
              "# Secrets for authentication using CHAP\n"
              "# client\tserver\tsecret\t\t\tIP addresses\n"
              "other * \"keep me\"\n"
              "\"jan\" * \"n\\\"ew #\"\n"
              "jan server-x \"for another server\"\n"
              "\"multi\nline\" * x\n"
              "   \n"
              "last * y");
    EXPECT_EQ(FindSecret(after, "jan"), "n\"ew #");
    EXPECT_EQ(FindSecret(after, "other"), "keep me");
    EXPECT_EQ(FindSecret(after, "multi\nline"), "x");
}

TEST(SecretsFile, AppendsDropsDuplicatesAndRemoves) {
    // A new user goes to the end, after a line feed the file lacked.
    EXPECT_EQ(ReplaceSecret("a * b", "jan", std::string("pw")), "a * b\n\"jan\" * \"pw\"\n");
    EXPECT_EQ(ReplaceSecret("", "jan", std::string("")), "\"jan\" * \"\"\n");
    // A text ending inside a quote or after a backslash would swallow an
    // appended line: the new line goes first and reads back.
    for (const std::string tail : {"x * \"open", "x * y\\"}) {
        const std::string after = ReplaceSecret(tail, "jan", std::string("pw"));
        EXPECT_EQ(after, "\"jan\" * \"pw\"\n" + tail);
        EXPECT_EQ(FindSecret(after, "jan"), "pw");
        EXPECT_EQ(FindSecret(after, "x"), FindSecret(tail, "x"));
    }
    // Two lines for the user: the first is replaced, the second dropped.
    EXPECT_EQ(ReplaceSecret("jan * one\nx * y\njan * two\n", "jan", std::string("3")), "\"jan\" * \"3\"\nx * y\n");
    // Removal keeps everything else.
    EXPECT_EQ(ReplaceSecret("x * y\n\"jan\" * \"p\"\nz * w\n", "jan", std::nullopt), "x * y\nz * w\n");
    EXPECT_EQ(ReplaceSecret("x * y\n", "jan", std::nullopt), "x * y\n");
}

TEST(SecretsFile, NeverFollowsAFileSecret) {
    EXPECT_EQ(FindSecret("jan * @/etc/shadow\n", "jan"), std::nullopt);
    EXPECT_EQ(FindSecret("jan *\n", "jan"), std::nullopt);
    EXPECT_EQ(FindSecret("jan srv pw\n", "jan"), std::nullopt);
    EXPECT_EQ(FindSecret("*  * pw\n", "jan"), std::nullopt);
}

}  // namespace
}  // namespace nebrin::pppd
