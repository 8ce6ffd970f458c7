// RasErrorText: the line libraries' error texts (what RasGetErrorStringA
// gives) in the user's language. Each library keeps its own English text for
// each code; on a Polish desktop the text is shown in Polish, as the
// system's own texts are there. The codes never change, and neither do the
// dial-state texts (the program's own, always English).
//
// The Polish texts are one table keyed by the English text, so both
// libraries share it and a code whose meaning differs between them keeps its
// own wording. A new error text gets its row here (the tests list any
// English text of either library that has none).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/Posix.h"

namespace nebrin::ras_text {

struct Translation {
    std::string_view english;
    std::string_view polish;
};

// clang-format off
inline constexpr Translation kPolish[] = {
    // ---- both lines
    {"An operation is pending.", "Operacja jest w toku."},
    {"The buffer is too small.", "Bufor jest za mały."},
    {"Access was denied because the user name or password is not valid.",
     "Odmowa dostępu: nazwa użytkownika lub hasło są nieprawidłowe."},

    // ---- the simulated line
    {"The port handle is invalid.", "Dojście portu jest nieprawidłowe."},
    {"The entry is already connected or dialling.", "To połączenie jest już nawiązane lub właśnie jest wybierane."},
    {"Wrong information was specified.", "Podano nieprawidłowe informacje."},
    {"The port is not connected.", "Port nie jest połączony."},
    {"The device does not exist.", "Urządzenie nie istnieje."},
    {"The port was not found.", "Nie znaleziono portu."},
    {"The phonebook could not be opened.", "Nie można otworzyć książki telefonicznej."},
    {"The phonebook could not be loaded.", "Nie można załadować książki telefonicznej."},
    {"The phonebook entry was not found.", "Nie znaleziono wpisu w książce telefonicznej."},
    {"The phonebook could not be written.", "Nie można zapisać książki telefonicznej."},
    {"The connection was closed.", "Połączenie zostało zamknięte."},
    {"The connection was closed by the remote computer.", "Połączenie zostało zamknięte przez komputer zdalny."},
    {"The structure size is incorrect.", "Rozmiar struktury jest nieprawidłowy."},
    {"The device is already in use or not configured for dialling out.",
     "Urządzenie jest już używane lub nie jest skonfigurowane do nawiązywania połączeń."},
    {"The account is disabled.", "Konto jest wyłączone."},
    {"The password has expired.", "Hasło wygasło."},
    {"The account is not allowed to dial in.", "To konto nie ma uprawnień do połączeń telefonicznych."},
    {"The device reported an error.", "Urządzenie zgłosiło błąd."},
    {"The line is busy.", "Linia jest zajęta."},
    {"There was no answer.", "Brak odpowiedzi."},
    {"No carrier was detected.", "Nie wykryto nośnej."},
    {"The remote computer did not answer in time.", "Komputer zdalny nie odpowiedział na czas."},

    {"The requested resource is in use.", "Żądany zasób jest w użyciu."},
    // ---- the pppd line
    {"The connection does not exist.", "Połączenie nie istnieje."},
    {"Not enough memory.", "Za mało pamięci."},
    {"A value cannot be stored: it is empty where a value is needed, too long, holds a line break or NUL, or is a "
     "user name \"*\". Nothing was written.",
     "Nie można zapisać wartości: jest pusta tam, gdzie jest wymagana, za długa, zawiera znak końca wiersza lub NUL "
     "albo jest nazwą użytkownika „*”. Nic nie zostało zapisane."},
    {"The entry name must be a plain file name: letters, digits, '.', '_' and '-', not starting with '.'.",
     "Nazwa połączenia musi być zwykłą nazwą pliku: litery, cyfry, „.”, „_” i „-”, bez „.” na początku."},
    {"A pppd peer file of this name exists that the dialer did not write for this user; it was left as it is.",
     "Istnieje już plik połączenia pppd o tej nazwie, którego program nie zapisał dla tego użytkownika; pozostawiono "
     "go bez zmian."},
    {"The connection handle is not valid.", "Dojście połączenia jest nieprawidłowe."},
    {"This entry is already connected or being dialled.", "To połączenie jest już nawiązane lub właśnie jest wybierane."},
    {"The connection is not connected.", "Połączenie nie jest nawiązane."},
    {"The PPP daemon (pppd) cannot be started: install the ppp package.",
     "Nie można uruchomić usługi PPP (pppd): zainstaluj pakiet ppp."},
    {"The phonebook is not pppd's peers folder and cannot be used.",
     "Książka telefoniczna nie jest folderem połączeń pppd i nie może być użyta."},
    {"The entry has no peer file in pppd's peers folder.", "Połączenie nie ma pliku w folderze połączeń pppd."},
    {"The pppd peer file or the user's credentials could not be written (writing /etc/ppp/peers needs the "
     "administrator's authorisation; a user has at most 16 peer files).",
     "Nie można zapisać pliku połączenia pppd ani danych logowania użytkownika (zapis w /etc/ppp/peers wymaga "
     "zgody administratora; użytkownik może mieć najwyżej 16 plików połączeń)."},
    {"pppd rejected the options of this entry's peer file (or its PPPoE plugin is missing).",
     "pppd odrzucił opcje z pliku tego połączenia (albo brakuje jego wtyczki PPPoE)."},
    {"The connection was terminated.", "Połączenie zostało przerwane."},
    {"The connection was closed by the access concentrator.", "Połączenie zostało zamknięte przez koncentrator dostępowy."},
    {"The connection was hung up.", "Połączenie zostało rozłączone."},
    {"The record size is not valid.", "Rozmiar rekordu jest nieprawidłowy."},
    {"No wired interface found: PPPoE needs an Ethernet interface no user can own (a network card, a VLAN, a "
     "bridge, a bond or a veth); loopback, ppp, tunnel, wireless and tun/tap interfaces are never used.",
     "Nie znaleziono interfejsu przewodowego: PPPoE wymaga interfejsu Ethernet, którego nie może mieć zwykły "
     "użytkownik (karta sieciowa, VLAN, most, łącze zagregowane, veth); pętla zwrotna, ppp, tunele, sieć "
     "bezprzewodowa i tun/tap nie są używane."},
    {"The pppd peer file of this entry belongs to another user of this computer (or was written by an earlier "
     "version for a user it does not name); it is neither dialled nor replaced. Create the entry again to get a peer "
     "file of your own.",
     "Plik połączenia pppd tej pozycji należy do innego użytkownika (lub zapisała go wcześniejsza wersja bez "
     "wskazania użytkownika); nie zostanie wybrany ani zastąpiony. Utwórz połączenie ponownie, aby mieć "
     "własny plik."},
    {"Another program is writing pppd's peer files and did not finish in time; nothing was written. Try again in a "
     "moment.",
     "Inny program zapisuje pliki połączeń pppd i nie skończył na czas; nic nie zostało zapisane. Spróbuj ponownie za "
     "chwilę."},
    {"The helper that writes pppd's peer files did not answer in time and was stopped; nothing may have been written.",
     "Program pomocniczy zapisujący pliki połączeń pppd nie odpowiedział na czas i został zatrzymany; zmiany mogły "
     "nie zostać zapisane."},
    {"The connection came up but carried no traffic: another program owns the default route. The connection was "
     "hung up.",
     "Połączenie zostało nawiązane, ale nie przenosiło ruchu: trasą domyślną zarządza inny program. Połączenie "
     "zostało rozłączone."},
    {"The connection came up but the resolver did not take the provider's name servers, so names would not resolve. "
     "The connection was hung up.",
     "Połączenie zostało nawiązane, ale system nie przyjął serwerów nazw dostawcy, więc nazwy nie byłyby "
     "tłumaczone. Połączenie zostało rozłączone."},
    {"The network cable is unplugged: the Ethernet interface has no carrier.",
     "Kabel sieciowy jest odłączony: interfejs Ethernet nie wykrywa sygnału."},
    {"No access concentrator answered. The provider may still hold the previous session, which ended abnormally: "
     "try again in a minute.",
     "Żaden koncentrator dostępowy nie odpowiedział. Dostawca może jeszcze utrzymywać poprzednią sesję, która "
     "zakończyła się nieprawidłowo: spróbuj ponownie za minutę."},
    {"The access concentrator did not authenticate itself, and pppd's options require it.",
     "Koncentrator dostępowy nie uwierzytelnił się, a opcje pppd tego wymagają."},
    {"pppd may not be run by this user: add the user to the dip group.",
     "Ten użytkownik nie może uruchamiać pppd: dodaj go do grupy dip."},
    {"pppd reported an error.", "pppd zgłosił błąd."},
    {"Only PPPoE entries can be written as pppd peer files.",
     "Jako pliki połączeń pppd można zapisać tylko połączenia PPPoE."},
    {"No PPPoE access concentrator answered: check the cable and the service name.",
     "Żaden koncentrator dostępowy PPPoE nie odpowiedział: sprawdź kabel i nazwę usługi."},
    {"The PPP negotiation timed out.", "Upłynął limit czasu negocjacji PPP."},
    {"This system's kernel has no PPP support (no /dev/ppp): pppd cannot connect. Load the ppp_generic and pppoe "
     "kernel modules.",
     "Jądro tego systemu nie obsługuje PPP (brak /dev/ppp): pppd nie może nawiązać połączenia. Załaduj moduły jądra "
     "ppp_generic i pppoe."},
    {"The PPP negotiation failed: no network protocol could be agreed.",
     "Negocjacja PPP nie powiodła się: nie uzgodniono żadnego protokołu sieciowego."},
    {"A loopback was detected: the line returns what is sent.",
     "Wykryto pętlę zwrotną: linia odsyła to, co zostało wysłane."},
};
// clang-format on

// Whether messages are to be Polish: the first of LC_ALL, LC_MESSAGES and
// LANG that is set and not empty starts with "pl".
[[nodiscard]] inline bool PolishMessages() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const std::optional<std::string> value = EnvValue(name);
        if (value && !value->empty()) return value->rfind("pl", 0) == 0;
    }
    return false;
}

// The Polish text of a library's English text; empty when the table has none.
[[nodiscard]] inline std::string_view PolishText(std::string_view english) {
    for (const Translation& t : kPolish) {
        if (t.english == english) return t.polish;
    }
    return {};
}

// `english` in the user's language (Polish where the table has it).
[[nodiscard]] inline std::string Localised(std::string_view english) {
    if (PolishMessages()) {
        if (const std::string_view polish = PolishText(english); !polish.empty()) return std::string(polish);
    }
    return std::string(english);
}

// The text of a remote access error code no table of a library knows.
[[nodiscard]] inline std::string GenericText(std::uint32_t code) {
    return (PolishMessages() ? "Błąd dostępu zdalnego " : "Remote access error ") + std::to_string(code) + ".";
}

}  // namespace nebrin::ras_text
