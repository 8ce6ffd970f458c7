#!/usr/bin/env bash
# With the GNOME platform theme (XDG_CURRENT_DESKTOP=GNOME, as under GNOME,
# Xfce or Cinnamon), Enter in the filled-in settings dialog accepts it.
. "$(dirname "$0")/lib.sh"
need openbox
start_x
export XDG_CURRENT_DESKTOP=GNOME
start_a11y_dialer openbox --sm-disable
probe press "Konfiguracja połączenia" || die "settings button"
conf=$(wait_window "Konfiguracja połączenia" 15) || die "no settings dialog"
xdotool windowactivate --sync "$conf" 2>/dev/null || true
for ((i = 0; i < 20; i++)); do [ "$(probe focused)" = "Nazwa użytkownika:" ] && break; sleep 0.5; done
fill_settings ania Sekret12 swiatlowod
for ((i = 0; i < 50; i++)); do [ -z "$(windows_named "Konfiguracja połączenia")" ] && break; sleep 0.2; done
[ -z "$(windows_named "Konfiguracja połączenia")" ] || { import -window root "$E2E_OUT/dialog_enter_gnome.png"; die "Enter did not accept the settings dialog under the GNOME theme (screenshot dialog_enter_gnome.png)"; }
for ((i = 0; i < 25; i++)); do grep -q "swiatlowod" "$home/simline-user.pbk" && break; sleep 0.2; done
grep -q "swiatlowod" "$home/simline-user.pbk" || die "the typed settings were not stored"
echo "PASS: Enter accepts the settings dialog with XDG_CURRENT_DESKTOP=GNOME"
