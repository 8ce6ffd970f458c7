#include "connection/UserSettings.h"

#include <exception>

#include "platform/ProfileIni.h"
#include "platform/ProgramDir.h"
#include "base/Cp1250.h"
#include "storage/PassPhrases.h"
#include "storage/hbCrypt.h"

namespace nebrin {
namespace {

constexpr unsigned kUserIniMode = 0600;

struct Field {
    std::string_view key;
    std::string_view label;  // the dialog's label, for messages
    std::size_t maxChars;    // Windows-1250 characters the entry's field takes
};
constexpr Field kName{kUserNameKey, "Nazwa użytkownika", kMaxUserNameChars};
constexpr Field kPassword{kPasswordKey, "Hasło", kMaxPasswordChars};
constexpr Field kService{kServiceKey, "Nazwa usługi", kMaxServiceNameChars};

// Length of the UTF-8 sequence starting with `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

}  // namespace

std::string UserIniPath() { return JoinPath(DataHomeDir(), std::string(kUserIniName)); }

StoredCredentials LoadUserSettings(const std::string& path, std::vector<std::string>* problems) {
    StoredCredentials out;
    auto report = [problems](std::string line) {
        if (problems) problems->push_back(std::move(line));
    };
    ProfileIni ini;
    std::string error;
    if (!ini.Load(path, &error)) {
        report("Nie można odczytać pliku " + std::string(kUserIniName) + ": " + error);
        return out;
    }
    const CipherKey key(CredentialsPassPhrase());
    auto load = [&](const Field& f, std::optional<std::string>& target) {
        const std::string value = ini.GetString(kUserSection, f.key, "");
        if (value.empty()) return;
        try {
            target = Cp1250ToUtf8(DecryptString(key, value));
        } catch (const std::exception& e) {
            // The field is left empty; the others still load.
            target = std::string();
            report("Nie można odczytać zapisanej wartości „" + std::string(f.label) + "” z pliku " +
                   std::string(kUserIniName) + " (" + e.what() + ").");
        }
    };
    load(kName, out.userName);
    load(kPassword, out.password);
    load(kService, out.serverName);
    return out;
}

bool SaveUserSettings(const std::string& path, const Credentials& c, std::string* error) {
    auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    ProfileIni ini;
    std::string why;
    if (!ini.Load(path, &why)) return fail("Nie można odczytać pliku " + std::string(kUserIniName) + ": " + why);
    const CipherKey key(CredentialsPassPhrase());
    const struct {
        const Field& field;
        const std::string& text;
    } values[] = {{kName, c.userName}, {kPassword, c.password}, {kService, c.serverName}};
    for (const auto& v : values) {
        const std::optional<std::string> bytes = Utf8ToCp1250(v.text);
        if (!bytes) return fail("Pole „" + std::string(v.field.label) + "” zawiera znak, którego nie można zapisać.");
        std::string sealed;
        try {
            sealed = EncryptString(key, *bytes);
        } catch (const std::exception& e) {
            return fail(e.what());
        }
        if (!ini.Set(kUserSection, v.field.key, sealed))
            return fail("Nie można zapisać wartości " + std::string(v.field.key));
    }
    if (!ini.Save(path, kUserIniMode, &why))
        return fail("Nie można zapisać pliku " + std::string(kUserIniName) + ": " + why);
    return true;
}

std::optional<std::string> FirstUnstorableCharacter(std::string_view utf8) {
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t n = SequenceLength(static_cast<unsigned char>(utf8[i]));
        const std::string_view ch = utf8.substr(i, n);
        if (!Utf8ToCp1250(ch)) {
            bool whole = n > 1 && ch.size() == n;
            for (std::size_t k = 1; whole && k < n; ++k) whole = (static_cast<unsigned char>(ch[k]) & 0xC0) == 0x80;
            // A broken sequence has no character to show.
            return whole ? std::string(ch) : std::string("\xEF\xBF\xBD");
        }
        i += n;
    }
    return std::nullopt;
}

std::vector<std::string> ValidateSettings(std::string_view userName, std::string_view password,
                                          std::string_view checkPassword, std::string_view serverName) {
    std::vector<std::string> messages;
    if (userName.empty()) messages.emplace_back(kNoUserNameMessage);
    if (!password.empty() && password != checkPassword) messages.emplace_back(kPasswordMismatchMessage);
    const struct {
        const Field& field;
        std::string_view text;
    } fields[] = {{kName, userName}, {kPassword, password}, {kService, serverName}};
    for (const auto& f : fields) {
        if (auto ch = FirstUnstorableCharacter(f.text)) {
            // The password's character is not shown.
            const std::string what = &f.field == &kPassword ? std::string("znak") : "znak „" + *ch + "”";
            messages.push_back("Pole „" + std::string(f.field.label) + "” zawiera " + what +
                               ", którego nie można zapisać. Proszę użyć liter alfabetu łacińskiego lub polskiego, "
                               "cyfr i znaków przestankowych.");
        } else if (f.text.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) {
            // The line's records end at a NUL and its files at a line break:
            // such a value would arrive cut short or spill into a next line.
            messages.push_back("Pole „" + std::string(f.field.label) +
                               "” nie może zawierać znaku końca wiersza ani znaku o kodzie 0.");
        } else if (Utf8ToCp1250(f.text)->size() > f.field.maxChars) {
            messages.push_back("Pole „" + std::string(f.field.label) + "” może mieć najwyżej " +
                               std::to_string(f.field.maxChars) + " znaków.");
        }
    }
    return messages;
}

std::string ToPlatformText(std::string_view utf8) {
    if (auto bytes = Utf8ToCp1250(utf8)) return *bytes;
    return std::string(utf8);
}

}  // namespace nebrin
