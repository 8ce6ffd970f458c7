#!/usr/bin/env bash
# What a screen reader sees (AT-SPI, through the toolkit's bridge): the power
# button is found by its Polish name and role, pressed through its action on
# the simulated line, the window's description change to "Połączony" is
# heard; every control of the main, statistics, settings, log and About
# windows has a name. The provider's pages (nebrin-web's) are read in the
# dialer's windows, the offline page, the online one and the popup's, with
# their links, which are followed through their action (and by keyboard in
# the main window) under the pages' own rules; the popup is a window of its
# own, Escape closes it and the keyboard comes back to the main window. The
# tree is written to $E2E_OUT/a11y_tree.txt.
. "$(dirname "$0")/lib.sh"
need openbox
start_x

# Local pages: the online page and the popup's, each with links.
pages="$WORK/pages"
mkdir -p "$pages"
cat >"$pages/online.html" <<'PAGE'
<html><body><h1>Witaj w sieci</h1>
<p>Twoje łącze działa. Zobacz <a href="cennik.html">Cennik usług</a> albo <a href="/etc/hostname">Plik spoza strony</a>.</p>
<p style="display:none">Ukryty tekst</p><script>document.title = "skrypt";</script>
<a href="pomoc.html" target="_blank"><img alt="Pomoc w nowym oknie" src="brak.png"></a>
</body></html>
PAGE
printf '<html><body><p>Cennik: 50 zł miesięcznie.</p><a href="online.html">Wróć</a></body></html>' >"$pages/cennik.html"
printf '<html><body><p>Nowa oferta dla Ciebie.</p><a href="oferta.html">Szczegóły oferty</a></body></html>' >"$pages/popup.html"
printf '<html><body><p>Oferta: światłowód 1 Gb/s.</p></body></html>' >"$pages/oferta.html"
SIM_THEME_EDITS=("s|^OnlineURL=.*|OnlineURL=file://$pages/online.html|" "s|^EnablePopup=.*|EnablePopup=yes|"
  "s|^PopupTimer=.*|PopupTimer=0|" "s|^PopupURL=.*|PopupURL=file://$pages/popup.html|"
  "s|^PopupWidth=.*|PopupWidth=360|" "s|^PopupHeight=.*|PopupHeight=200|")
start_a11y_dialer openbox --sm-disable

tree="$E2E_OUT/a11y_tree.txt"
probe dump >"$tree" || die "no accessible tree"
probe names Nebrin || die "main window"
# The provider's page (nebrin-web's pane) is read in the main window.
for ((i = 0; i < 40; i++)); do
  probe dump >"$WORK/tree.txt" || die "no accessible tree"
  grep -q "'Strona dostawcy' — '.*Rozłączony" "$WORK/tree.txt" && break
  sleep 0.5
done
grep -q "'Strona dostawcy' — '.*Rozłączony" "$WORK/tree.txt" ||
  die "the page's text is not in the tree: $(grep Strona "$WORK/tree.txt")"
cp "$WORK/tree.txt" "$tree"

# The power button, by name and role, on the simulated line.
probe press-and-wait "Połącz" "Połączony" 30 || die "connecting through the power button's action"
probe dump >"$E2E_OUT/a11y_tree_online.txt" || die "no accessible tree when online"
# The role is "push button" in Debian 12's AT-SPI and "button" in Debian 13's.
grep -Eq "(push )?button 'Rozłącz'" "$E2E_OUT/a11y_tree_online.txt" ||
  die "the power button is not 'Rozłącz' when online"

# The popup comes up about a second after the connection: a window of its
# own, its page read with its link, which is followed through its action.
popup=$(wait_window Informacja 60) || die "no popup window; log: $(cat "$WORK/nebrin.log")"
probe window "Informacja od dostawcy" 15 || die "the popup is not a window to the screen reader"
probe page "Informacja od dostawcy" "Nowa oferta dla Ciebie." 30 >"$WORK/popup_page.txt" || die "the popup's page is not read"
grep -qx "link 'Szczegóły oferty' — 'file://$pages/oferta.html' \[actions: Press.*" "$WORK/popup_page.txt" ||
  die "no link in the popup's page: $(cat "$WORK/popup_page.txt")"
probe follow "Szczegóły oferty" || die "the popup's link"
probe page "Informacja od dostawcy" "Oferta: światłowód 1 Gb/s." 30 >/dev/null || die "the popup's link was not followed"
import -window root "$E2E_OUT/a11y_popup.png" || die "no screenshot"
# Escape closes it, and the keyboard is back in the main window.
wait_active "$popup" 10 || die "the popup is not active"
xdotool key Escape
for ((i = 0; i < 50; i++)); do [ -z "$(windows_named Informacja)" ] && break; sleep 0.2; done
[ -z "$(windows_named Informacja)" ] || die "Escape did not close the popup"
wait_active "$win" 10 || die "the keyboard did not come back to the main window after the popup"

# The online page: its shown text in reading order, its links; hidden text
# and scripts are not read.
probe page Nebrin "Witaj w sieci Twoje łącze działa. Zobacz Cennik usług albo Plik spoza strony ." 30 \
  >"$WORK/online_page.txt" || die "the online page is not read"
cat "$WORK/online_page.txt"
for want in "link 'Cennik usług' — 'file://$pages/cennik.html'" "link 'Plik spoza strony' — 'file:///etc/hostname'" \
  "link 'Pomoc w nowym oknie' — 'file://$pages/pomoc.html'" "label 'Witaj w sieci'"; do
  grep -q "^$want" "$WORK/online_page.txt" || die "not in the online page: $want"
done
grep -q "Ukryty\|skrypt" "$WORK/online_page.txt" && die "hidden text read"
# A link the page's rules refuse (a file outside the page's folder) leaves
# the page as it was, as a click does; an allowed one is followed.
probe follow "Plik spoza strony" || die "the refused link"
sleep 1.5
probe page Nebrin "Witaj w sieci" 1 >/dev/null || die "a refused link changed the page"
probe follow "Cennik usług" || die "the online page's link"
probe page Nebrin "Cennik: 50 zł miesięcznie." 30 >/dev/null || die "the online page's link was not followed"

# By keyboard: Tab reaches the page after the skin's controls, an arrow key
# its link, Enter follows it.
tab_to "Strona dostawcy" || die "Tab never reached the page"
# nebrin-web marks the page with the focus: a dotted line just inside the
# pane's edges (the default theme's pane starts at 8,34), gone once the focus
# is on a link.
read -r wx wy _ _ <<<"$(geometry "$win")"
edge_darkest() { convert "$1" -crop 40x2+$((wx + 50))+$((wy + 34)) -colorspace gray -format "%[fx:minima]" info:; }
sleep 0.5
import -window root "$E2E_OUT/a11y_page_focus.png" || die "no screenshot"
[ "$(edge_darkest "$E2E_OUT/a11y_page_focus.png")" = 0 ] || die "no focus mark round the page"
xdotool key Down
sleep 0.3
[ "$(probe focused)" = "Wróć" ] || die "Down in the page did not reach its link: $(probe focused)"
sleep 0.5
import -window root "$E2E_OUT/a11y_link_focus.png" || die "no screenshot"
[ "$(edge_darkest "$E2E_OUT/a11y_link_focus.png")" = 1 ] || die "the page's mark stayed with the focus on a link"
xdotool key Return
probe page Nebrin "Witaj w sieci" 30 >/dev/null || die "Enter on the page's link did not follow it"

# The statistics window, through the speed panel's action.
probe press "Prędkości (statystyki)" || die "speed panel"
probe window "Statystyki połączenia" 15 || die "no statistics window"
probe names "Statystyki połączenia" || die "statistics window"

# The log, by its shortcut.
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
xdotool key ctrl+alt+l
probe window "Połączenie: Nebrin" 15 || die "no log window"
probe names "Połączenie: Nebrin" || die "log window"
xdotool key Escape

# The About window.
probe press "Informacja" || die "information button"
probe window "Informacja" 15 || die "no About window"
probe names "Informacja" || die "About window"
probe dump >>"$tree"
xdotool key Escape
for ((i = 0; i < 50; i++)); do [ -z "$(windows_named Informacja)" ] && break; sleep 0.2; done

# The settings dialog, through its button's action (modal: the probe only
# reads while it shows).
probe press "Konfiguracja połączenia" || die "settings button"
probe window "Konfiguracja połączenia" 15 || die "no settings dialog"
probe names "Konfiguracja połączenia" || die "settings dialog"
probe dump >>"$tree"
echo "PASS: power button found and pressed by name, 'Połączony' heard, every control named, the pages read and their links followed, the popup closed by Escape; tree in $tree"
