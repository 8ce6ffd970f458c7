// Hostile credentials and service names at every layer that takes them: the
// settings dialog's checks and user.ini, the loader's PPPoE entry records,
// and the simulated line's phonebook. Each value is refused or comes back
// exactly, and never adds a key, a line or an entry.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "RasDouble.h"
#include "connection/UserSettings.h"
#include "connection/hbRas.h"
#include "base/Cp1250.h"

namespace nebrin {
namespace {

namespace fs = std::filesystem;
using test::RasDouble;

std::string Nul(const char* a, const char* b) { return std::string(a) + '\0' + b; }

// Values that break naive writers: blanks, quotes, comment and escape
// characters, line breaks, option-like and wildcard starts, the secret-file
// marker, INI syntax, percent escapes, non-ASCII.
const std::vector<std::string> kAwkward = {
    " ",         "\t",         "a b",          "\"quoted\"",        "it's", "#comment", "a#b", "back\\slash",
    "\\",        "trailing\\", "@/etc/shadow", "-option",           "--x",  "*",        "*x",  "[USER]",
    "name=evil", "%41%",       "\xE2\x82\xAC", "zażółć gęślą jaźń",
};

std::string Show(const std::string& v) {
    std::string out;
    for (unsigned char c : v) {
        if (c < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out.size() > 40 ? out.substr(0, 40) + "...(" + std::to_string(v.size()) + ")" : out;
}

// ---- The dialog's checks and user.ini ------------------------------------------

class HostileUserIni : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-hostile-ini-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/user.ini";
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Read() const {
        std::ifstream f(path_, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    std::string dir_, path_;
};

enum class FieldId { kUser, kPassword, kService };

TEST_F(HostileUserIni, EachValueIsRefusedWithAMessageOrStoredExactly) {
    struct Case {
        std::string value;
        // Fields that refuse the value (user, password, service).
        bool refusedIn[3];
    };
    std::vector<Case> cases;
    for (const std::string& v : kAwkward) cases.push_back({v, {false, false, false}});
    const std::vector<Case> more = {
        {"", {true, false, false}},  // only the user name is required
        {"a\nb", {true, true, true}},
        {"a\rb", {true, true, true}},
        {"line\r\n", {true, true, true}},
        {Nul("a", "b"), {true, true, true}},
        {Nul("", ""), {true, true, true}},
        {"\xE4\xB8\xAD", {true, true, true}},  // no Windows-1250 byte
        {std::string(128, 's'), {false, false, false}},
        {std::string(129, 's'), {false, false, true}},
        {std::string(255, 'x'), {false, false, true}},
        {std::string(256, 'x'), {false, false, true}},
        {std::string(257, 'x'), {true, true, true}},
        {std::string(1025, 'x'), {true, true, true}},
        // Counted in characters: 256 two-byte letters fit.
        {[] {
             std::string s;
             for (int i = 0; i < 256; ++i) s += "ł";
             return s;
         }(),
         {false, false, true}},
    };
    cases.insert(cases.end(), more.begin(), more.end());

    const Credentials base{"jan", "tajne", "usluga"};
    for (const Case& c : cases) {
        for (FieldId f : {FieldId::kUser, FieldId::kPassword, FieldId::kService}) {
            Credentials in = base;
            (f == FieldId::kUser ? in.userName : f == FieldId::kPassword ? in.password : in.serverName) = c.value;
            const std::string what = "field " + std::to_string(static_cast<int>(f)) + " value [" + Show(c.value) + "]";
            const std::vector<std::string> messages =
                ValidateSettings(in.userName, in.password, in.password, in.serverName);
            const bool refused = c.refusedIn[static_cast<int>(f)];
            EXPECT_EQ(!messages.empty(), refused) << what;
            if (refused) {
                // A message of its own; the password itself is never shown.
                ASSERT_EQ(messages.size(), 1u) << what;
                if (f == FieldId::kPassword && c.value.size() > 3) {
                    EXPECT_EQ(messages[0].find(c.value), std::string::npos) << what;
                }
                continue;
            }
            // Accepted: stored and read back exactly, as three sealed keys
            // and nothing else.
            std::string error;
            ASSERT_TRUE(SaveUserSettings(path_, in, &error)) << what << ": " << error;
            std::vector<std::string> problems;
            const StoredCredentials back = LoadUserSettings(path_, &problems);
            EXPECT_TRUE(problems.empty()) << what;
            EXPECT_EQ(back.userName.value_or(""), in.userName) << what;
            EXPECT_EQ(back.password.value_or(""), in.password) << what;
            EXPECT_EQ(back.serverName.value_or(""), in.serverName) << what;
            std::istringstream lines(Read());
            std::vector<std::string> keys;
            for (std::string line; std::getline(lines, line);) keys.push_back(line.substr(0, line.find('=')));
            EXPECT_EQ(keys, (std::vector<std::string>{"[USER]", "name", "passwd", "serv"})) << what;
            fs::remove(path_);
        }
    }
}

TEST(HostileSettingsMessages, NameTheFieldAndTheLimit) {
    const auto m = ValidateSettings(std::string(300, 'u'), "a\nb", "a\nb", std::string(129, 's'));
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0], "Pole „Nazwa użytkownika” może mieć najwyżej 256 znaków.");
    EXPECT_EQ(m[1], "Pole „Hasło” nie może zawierać znaku końca wiersza ani znaku o kodzie 0.");
    EXPECT_EQ(m[2], "Pole „Nazwa usługi” może mieć najwyżej 128 znaków.");
}

// ---- The loader's entry records ------------------------------------------------

class HostileEntryRecords : public ::testing::Test {
protected:
    void SetUp() override {
        RasDouble::I().Reset();
        ResetRasApiForTesting();
        SetRasPlatformLevel(4);
        SetRasApiForTesting(RasDouble::Table());
    }
    void TearDown() override {
        RasDouble::I().Reset();
        ResetRasApiForTesting();
    }
};

TEST_F(HostileEntryRecords, TextsGoWholeOrNotAtAll) {
    struct Case {
        std::string entry, service, user, password;
        std::int32_t rc;  // 0: written whole
    };
    std::vector<Case> cases;
    // Every awkward value in every field goes to the line byte for byte
    // (the line decides what it can store).
    for (const std::string& v : kAwkward) {
        const std::string bytes = ToPlatformText(v);
        cases.push_back({"Neo", bytes, "jan", "pw", 0});
        cases.push_back({"Neo", "svc", bytes, "pw", 0});
        cases.push_back({"Neo", "svc", "jan", bytes, 0});
    }
    const std::string e256(RAS_MaxEntryName, 'e'), s128(RAS_MaxPhoneNumber, 's');
    const std::string u256(RAS_UNLEN, 'u'), p256(RAS_PWLEN, 'p');
    const std::vector<Case> limits = {
        {e256, s128, u256, p256, 0},  // every field filled to its end
        {"Neo", "svc", std::string(255, 'u'), std::string(255, 'p'), 0},
        {e256 + "e", "svc", "jan", "pw", RAS_ERROR_INVALID_NAME},
        {"Neo", s128 + "s", "jan", "pw", RAS_ERROR_INVALID_PARAMETER},
        {"Neo", "svc", u256 + "u", "pw", RAS_ERROR_INVALID_PARAMETER},
        {"Neo", "svc", "jan", p256 + "p", RAS_ERROR_INVALID_PARAMETER},
        {"Neo", "svc", "jan", std::string(1025, 'p'), RAS_ERROR_INVALID_PARAMETER},
        {Nul("Neo", "x"), "svc", "jan", "pw", RAS_ERROR_INVALID_NAME},
        {"Neo", Nul("svc", "x"), "jan", "pw", RAS_ERROR_INVALID_PARAMETER},
        {"Neo", "svc", Nul("jan", "x"), "pw", RAS_ERROR_INVALID_PARAMETER},
        {"Neo", "svc", "jan", Nul("pw", "x"), RAS_ERROR_INVALID_PARAMETER},
        {"Neo", "svc", "jan", Nul("", ""), RAS_ERROR_INVALID_PARAMETER},
    };
    cases.insert(cases.end(), limits.begin(), limits.end());

    auto& d = RasDouble::I();
    for (const Case& c : cases) {
        const std::string what =
            "[" + Show(c.entry) + "] [" + Show(c.service) + "] [" + Show(c.user) + "] [" + Show(c.password) + "]";
        const int props = d.setPropsCalls, params = d.setDialParamsCalls;
        EXPECT_EQ(CreatePPPoEEntry(c.entry, c.service, c.user, c.password), c.rc) << what;
        if (c.rc != 0) {
            EXPECT_EQ(d.setPropsCalls, props) << what;
            EXPECT_EQ(d.setDialParamsCalls, params) << what;
            continue;
        }
        EXPECT_EQ(d.lastEntryName, c.entry) << what;
        EXPECT_EQ(std::string(d.lastEntry.szLocalPhoneNumber), c.service) << what;
        EXPECT_EQ(std::string(d.lastSetDialParams.szEntryName), c.entry) << what;
        EXPECT_EQ(std::string(d.lastSetDialParams.szPhoneNumber), c.service) << what;
        EXPECT_EQ(std::string(d.lastSetDialParams.szUserName), c.user) << what;
        EXPECT_EQ(std::string(d.lastSetDialParams.szPassword), c.password) << what;
    }
}

// ---- The simulated line's phonebook ------------------------------------------------

class HostileSimPhonebook : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nebrin-hostile-sim-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        home_ = tmpl;
        ::setenv("NEBRIN_HOME", home_.c_str(), 1);
        ::setenv("NEBRIN_RAS", (std::string(NEBRIN_BUNDLE_DIR) + "/librasapi-sim.so").c_str(), 1);
        std::ofstream(home_ + "/simline.ini") << "[Line]\nStepDelay=0\n";
        ResetRasApiForTesting();
        SetRasPlatformLevel(4);
        ASSERT_TRUE(LoadRasApi()) << "build the rasapi-sim target first";
    }
    void TearDown() override {
        ResetRasApiForTesting();
        ::unsetenv("NEBRIN_RAS");
        ::unsetenv("NEBRIN_HOME");
        fs::remove_all(home_);
    }

    // The user name and password the line gives back for `entry`.
    std::vector<std::string> Stored(const std::string& entry) {
        RASDIALPARAMSA p;
        std::memset(&p, 0, sizeof p);
        p.dwSize = RASDIALPARAMSA_SIZE;
        std::memcpy(p.szEntryName, entry.data(), entry.size());
        RAS_BOOL saved = 0;
        if (RasFunctions().RasGetEntryDialParamsA(nullptr, &p, &saved) != 0) return {"<not found>"};
        return {p.szUserName, p.szPassword};
    }

    // The decoded PhoneNumber (the service name) of the book's only record.
    std::string StoredService() const {
        std::ifstream f(home_ + "/simline-user.pbk", std::ios::binary);
        for (std::string line; std::getline(f, line);) {
            if (line.rfind("PhoneNumber=", 0) != 0) continue;
            const std::string v = line.substr(12);
            if (v == "%") return "";
            std::string out;
            for (std::size_t i = 0; i < v.size(); ++i) {
                if (v[i] == '%' && i + 2 < v.size()) {
                    out += static_cast<char>(std::stoi(v.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else {
                    out += v[i];
                }
            }
            return out;
        }
        return "<none>";
    }

    std::set<std::string> Files() const {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(home_)) names.insert(e.path().string());
        return names;
    }

    // Keys of the user's phonebook file, one per line, and its entry count.
    void CheckBookShape(std::size_t entries, const std::string& what) const {
        std::ifstream f(home_ + "/simline-user.pbk", std::ios::binary);
        static const std::set<std::string> kKeys = {"Name",          "PhoneNumber", "DeviceType",    "DeviceName",
                                                    "AreaCode",      "Options",     "NetProtocols",  "FramingProtocol",
                                                    "CountryID",     "CountryCode", "UserName",      "Password",
                                                    "PasswordSaved", "Domain",      "CallbackNumber"};
        std::size_t records = 0;
        for (std::string line; std::getline(f, line);) {
            if (line.empty() || line[0] == ';') continue;
            if (line == "[entry]") {
                ++records;
                continue;
            }
            EXPECT_EQ(kKeys.count(line.substr(0, line.find('='))), 1u) << what << ": line [" << Show(line) << "]";
        }
        EXPECT_EQ(records, entries) << what;
    }

    std::string home_;
};

TEST_F(HostileSimPhonebook, CredentialsComeBackExactlyAndAddNoEntryOrKey) {
    std::vector<std::string> values;
    for (const std::string& v : kAwkward) values.push_back(ToPlatformText(v));
    for (const char* v : {"x\r\nName=evil", "\n[entry]\nName=evil\n", "", "%", "%00", "=", "\x7f"}) values.push_back(v);
    values.push_back(std::string(RAS_UNLEN, 'u'));

    for (const std::string& v : values) {
        const std::string what = "[" + Show(v) + "]";
        const std::string password = v.size() + 3 <= RAS_PWLEN ? "pw-" + v : v;
        ASSERT_EQ(CreatePPPoEEntry("Neo", "svc", v, password), 0) << what;
        EXPECT_EQ(Stored("Neo"), (std::vector<std::string>{v, password})) << what;
        if (v.size() <= RAS_MaxPhoneNumber) {
            ASSERT_EQ(CreatePPPoEEntry("Neo", v, "jan", "pw"), 0) << what;
            EXPECT_EQ(StoredService(), v) << what;
        }
        ASSERT_EQ(GetPhoneBookEntries(""), 0u);
        EXPECT_EQ(PhoneBookEntryCount(), 1) << what;
        CheckBookShape(1, what);
    }
}

TEST_F(HostileSimPhonebook, EntryNamesAreRecordsNeverPaths) {
    // The simulated line keeps its entries as records of one file, like the
    // platform's phonebook: a name is never a path. Names it cannot keep are
    // refused; the others come back exactly, and no file appears.
    ASSERT_EQ(CreatePPPoEEntry("Neo", "svc", "jan", "pw"), 0);
    const std::set<std::string> before = Files();
    struct Case {
        std::string name;
        bool kept;
    } cases[] = {
        {"", false},           {" lead", false}, {"trail ", false},
        {"new\nline", false},  {"cr\rx", false}, {"tab\tx", false},
        {"a/b", true},         {"..", true},     {"../../escape", true},
        {"/etc/passwd", true}, {"..\\up", true}, {"sp ace", true},
        {"-opt", true},        {"*", true},      {std::string(RAS_MaxEntryName, 'e'), true},
    };
    int kept = 1;
    for (const Case& c : cases) {
        const std::int32_t rc = CreatePPPoEEntry(c.name, "svc", "jan", "pw");
        EXPECT_EQ(rc == 0, c.kept) << "[" << Show(c.name) << "] rc " << rc;
        if (rc != 0) continue;
        ++kept;
        ASSERT_EQ(GetPhoneBookEntries(""), 0u);
        bool found = false;
        for (const TEntryRec& e : PhoneBookEntries()) found = found || e.EntryName == c.name;
        EXPECT_TRUE(found) << "[" << Show(c.name) << "]";
    }
    ASSERT_EQ(GetPhoneBookEntries(""), 0u);
    EXPECT_EQ(PhoneBookEntryCount(), kept);
    CheckBookShape(static_cast<std::size_t>(kept), "names");
    EXPECT_EQ(Files(), before);
    EXPECT_FALSE(fs::exists("/tmp/escape"));
}

}  // namespace
}  // namespace nebrin
