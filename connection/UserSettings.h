// The connection settings behind the settings dialog: the credentials kept
// sealed in user.ini, and the checks the dialog runs before it accepts.
//
// user.ini, section "USER", keys "name", "passwd", "serv": each the sealed
// Windows-1250 bytes of the text, as Base64, under the credentials pass
// phrase. The texts here are UTF-8; the conversion happens at the file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin {

inline constexpr std::string_view kUserIniName = "user.ini";
inline constexpr std::string_view kUserSection = "USER";
inline constexpr std::string_view kUserNameKey = "name";
inline constexpr std::string_view kPasswordKey = "passwd";
inline constexpr std::string_view kServiceKey = "serv";

// The dialog's texts (UTF-8).
struct Credentials {
    std::string userName;
    std::string password;
    std::string serverName;
    bool operator==(const Credentials&) const = default;
};

// What a load found. A value is set when its key held a non-empty value: the
// unsealed text, or "" when the value could not be unsealed. Missing and
// empty keys leave it unset (the dialog keeps what its field holds).
struct StoredCredentials {
    std::optional<std::string> userName;
    std::optional<std::string> password;
    std::optional<std::string> serverName;
};

// user.ini in the program's data folder.
std::string UserIniPath();

// Reads user.ini. A missing file reads as nothing stored. Never throws: an
// unreadable file or a value that does not unseal adds one line (Polish, for
// the connection log) to *problems and the other values still load.
// Sets the credentials pass phrase as the one in force.
StoredCredentials LoadUserSettings(const std::string& path, std::vector<std::string>* problems);

// Writes the three values (empty ones too) into section "USER", keeping the
// rest of the file; the file is written whole or not at all, mode 0600. A
// file that exists but cannot be read is not overwritten. False with *error
// (Polish) on failure; the file is then as it was.
// Sets the credentials pass phrase as the one in force.
[[nodiscard]] bool SaveUserSettings(const std::string& path, const Credentials& c, std::string* error);

// ---- validation ---------------------------------------------------------------

inline constexpr std::string_view kValidationTitle = "Kontrola poprawności danych";
inline constexpr std::string_view kNoUserNameMessage = "Proszę wprowadzić nazwę użytkownika.";
inline constexpr std::string_view kPasswordMismatchMessage = "Dane w polach Hasło i Potwierdź hasło nie są jednakowe.";

// The longest texts, in characters, that the phonebook entry's fields take
// whole (longer ones would be cut short there).
inline constexpr std::size_t kMaxUserNameChars = 256;
inline constexpr std::size_t kMaxPasswordChars = 256;
inline constexpr std::size_t kMaxServiceNameChars = 128;

// The messages to show, in order; empty when the texts are valid. The user
// name must not be empty; a non-empty password must equal its confirmation
// exactly; and the user name, password and service name may hold only
// characters that user.ini can store (Windows-1250), no line break and no
// NUL (no line carries them), and no more characters than their fields take,
// each field with a message of its own.
std::vector<std::string> ValidateSettings(std::string_view userName, std::string_view password,
                                          std::string_view checkPassword, std::string_view serverName);

// The first character of `utf8` that has no Windows-1250 byte (as UTF-8);
// nullopt when every character has one. Invalid UTF-8 gives U+FFFD.
[[nodiscard]] std::optional<std::string> FirstUnstorableCharacter(std::string_view utf8);

// Text for the line library: Windows-1250 bytes; text that has none is passed
// on as it is (validation keeps such text out of user.ini).
std::string ToPlatformText(std::string_view utf8);

}  // namespace nebrin
