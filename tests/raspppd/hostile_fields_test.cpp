// Field lengths and option-like starts in the peer file and the user's
// credentials store: each value is refused or lands as exactly one word in
// its place, where pppd takes it as the argument of the option before it and
// never as an option of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/raspppd/PppText.h"

namespace nebrin::pppd {
namespace {

std::string Show(const std::string& v) {
    return v.size() > 24 ? v.substr(0, 24) + "...(" + std::to_string(v.size()) + ")" : v;
}

// The words of our peer file for (entry, service), in order.
std::vector<std::string> PeerWords(const std::string& entry, const std::string& service) {
    std::vector<std::string> w = {"plugin", "rp-pppoe.so", "nic-eth0"};
    if (!service.empty()) w.insert(w.end(), {"rp_pppoe_service", service});
    w.insert(w.end(), {"plugin", "passwordfd.so", "linkname", entry, "noauth", "nopersist", "defaultroute",
                       "replacedefaultroute", "usepeerdns", "noipdefault", "+ipv6", "ipparam", "nebrin",
                       "lcp-echo-interval", "10", "lcp-echo-failure", "3"});
    return w;
}

const std::vector<std::string> kStarts = {"-",  "-x", "--defaultroute", "+ipv6", "*", "*x", "@/etc/shadow", "@x", "#x",
                                          "\"", "\\", " lead",          "\ttab"};

TEST(HostileFields, ServiceAndUserAreOneArgumentWordOrRefused) {
    struct Case {
        std::string value;
        Refusal service, user;
    };
    std::vector<Case> cases;
    for (const std::string& v : kStarts)
        cases.push_back({v, Refusal::kOk, v == "*" ? Refusal::kWildcard : Refusal::kOk});
    const std::vector<Case> limits = {
        {std::string(128, 's'), Refusal::kOk, Refusal::kOk},
        {std::string(129, 's'), Refusal::kTooLong, Refusal::kOk},
        {std::string(255, 'x'), Refusal::kTooLong, Refusal::kOk},
        {std::string(256, 'x'), Refusal::kTooLong, Refusal::kOk},
        {std::string(257, 'x'), Refusal::kTooLong, Refusal::kTooLong},
        {std::string(1025, 'x'), Refusal::kTooLong, Refusal::kTooLong},
        {"-x\nplugin evil.so", Refusal::kLineBreak, Refusal::kLineBreak},
        {std::string("-x\0plugin", 9), Refusal::kNul, Refusal::kNul},
    };
    cases.insert(cases.end(), limits.begin(), limits.end());

    for (const Case& c : cases) {
        EXPECT_EQ(CheckServiceName(c.value), c.service) << Show(c.value);
        EXPECT_EQ(CheckUserName(c.value), c.user) << Show(c.value);
        std::string why;
        const auto asService = BuildPeerFileChecked("dsl", PeerSettings{"eth0", c.value}, 1000, &why);
        EXPECT_EQ(asService.has_value(), c.service == Refusal::kOk) << Show(c.value) << ": " << why;
        if (asService) {
            EXPECT_EQ(SplitWords(*asService), PeerWords("dsl", c.value)) << Show(c.value);
        }
    }
}

TEST(HostileFields, EntryNamesStartingWithADashStayTheLinknameArgument) {
    const std::vector<std::string> entries = {"-", "-x", "--nodetach", std::string(kMaxEntryName, '-')};
    for (const std::string& entry : entries) {
        ASSERT_TRUE(IsValidEntryName(entry)) << entry;
        std::string why;
        const auto text = BuildPeerFileChecked(entry, PeerSettings{"eth0", ""}, 1000, &why);
        ASSERT_TRUE(text) << why;
        EXPECT_EQ(SplitWords(*text), PeerWords(entry, "")) << Show(entry);
    }
    // Interface names become part of an option word (nic-NAME): a leading '-'
    // or anything past the kernel's length is refused.
    EXPECT_FALSE(IsValidInterfaceName("-eth0"));
    EXPECT_FALSE(IsValidInterfaceName(std::string(kMaxInterfaceName + 1, 'e')));
    EXPECT_TRUE(IsValidInterfaceName(std::string(kMaxInterfaceName, 'e')));
}

// The store keeps every value that passes the checks as exactly the bytes
// given (the password goes to pppd through a pipe as it is), and the other
// entries as they were.
TEST(HostileFields, CredentialsStoreKeepsEveryAcceptedValueExactly) {
    const CredentialsTable others = {{"-x", {"o p", std::string("#kept")}}, {"zz", {"z", std::nullopt}}};
    struct Case {
        std::string user, password;
        bool stored;
    };
    std::vector<Case> cases;
    for (const std::string& v : kStarts) {
        cases.push_back({"jan", v, true});  // '@' too: no file is read for it now
        cases.push_back({v, "pw", v != "*"});
    }
    const std::vector<Case> limits = {
        {std::string(256, 'u'), std::string(255, 'p'), true},
        {"jan", std::string(256, 'p'), false},  // pppd's passwordfd reads 255 bytes at most
        {std::string(257, 'u'), "pw", false},
        {"jan", "pw\nevil", false},
        {"jan\r", "pw", false},
        {"jan", "", true},
    };
    cases.insert(cases.end(), limits.begin(), limits.end());

    for (const Case& c : cases) {
        const std::string what = "[" + Show(c.user) + "] [" + Show(c.password) + "]";
        const bool ok = CheckUserName(c.user) == Refusal::kOk && CheckPassword(c.password) == Refusal::kOk;
        EXPECT_EQ(ok, c.stored) << what;
        if (!ok) continue;
        CredentialsTable table = others;
        table.insert(table.begin() + 1, {"dsl", {c.user, c.password}});
        EXPECT_EQ(ReadCredentialsFile(BuildCredentialsFile(table)), table) << what;
    }
}

}  // namespace
}  // namespace nebrin::pppd
