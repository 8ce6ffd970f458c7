#!/usr/bin/env bash
# Checks a built nebrin .deb: its control fields, its exact file list, the
# files' owners and modes, and that its parts agree with each other (one
# version everywhere, the polkit action names the packaged helper, the
# metainfo names the packaged .desktop file, the theme is one the program
# loads).
#
#   check_deb.sh DEB [--prefix /usr] [--moduledir lib/<multiarch>/nebrin]
#                    [--version V] [--theme PKG.nbt --name NAME]
#   check_deb.sh --cpack BUILD_DIR --prefix P --moduledir M --version V
#                    makes the package of BUILD_DIR with cpack first, then
#                    a provider's package of it, and checks both
#
# Exit status 0 when every check passes, 1 when one fails, 77 when the tools
# it needs are missing.
set -uo pipefail

skip() {
    echo "SKIP: $*"
    exit 77
}
command -v dpkg-deb >/dev/null || skip "dpkg-deb is missing (package dpkg)"

prefix=/usr
moduledir=""
version=""
theme=""
name=""
cpack_dir=""
deb=""
while [ $# -gt 0 ]; do
    case "$1" in
        --prefix) prefix=$2; shift 2 ;;
        --moduledir) moduledir=$2; shift 2 ;;
        --version) version=$2; shift 2 ;;
        --theme) theme=$2; shift 2 ;;
        --name) name=$2; shift 2 ;;
        --cpack) cpack_dir=$2; shift 2 ;;
        *) deb=$1; shift ;;
    esac
done
arch=$(dpkg --print-architecture)
[ -n "$moduledir" ] || moduledir="lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo "$arch")/nebrin"
prefix=${prefix%/}
p=${prefix#/}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if [ -n "$cpack_dir" ]; then
    command -v cpack >/dev/null || skip "cpack is missing"
    command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps is missing (package dpkg-dev)"
    self=$(realpath "$0")
    tool="$cpack_dir/bin/nebrin-theme"
    # The plain package.
    (cd "$cpack_dir" && cpack -G DEB -B "$work/plain" >"$work/cpack.log" 2>&1) || {
        cat "$work/cpack.log"
        echo "FAIL: cpack"
        exit 1
    }
    bash "$self" "$work"/plain/nebrin_*.deb --prefix "$prefix" --moduledir "$moduledir" --version "$version" || exit 1
    # A provider's: its own theme (the default one with another entry name)
    # and name.
    "$tool" unpack "$cpack_dir/bin/skin/default.nbt" "$work/theme" >/dev/null || exit 1
    sed -i 's/^MainConnection=.*/MainConnection=Example Net/' "$work/theme/00-settings.ini"
    "$tool" pack "$work/theme" "$work/provider.nbt" >/dev/null || exit 1
    cmp -s "$cpack_dir/bin/skin/default.nbt" "$work/provider.nbt" && { echo "FAIL: no theme of its own"; exit 1; }
    (cd "$cpack_dir" && cpack -G DEB -B "$work/provider" -D NEBRIN_PACKAGE_THEME="$work/provider.nbt" \
        -D NEBRIN_PACKAGE_PROVIDER="Example Net" >"$work/cpack.log" 2>&1) || {
        cat "$work/cpack.log"
        echo "FAIL: cpack of a provider's package"
        exit 1
    }
    bash "$self" "$work"/provider/nebrin_*.deb --prefix "$prefix" --moduledir "$moduledir" --version "$version" \
        --theme "$work/provider.nbt" --name "Example Net" || exit 1
    # A theme the program would not load makes no package.
    head -c 4096 /dev/urandom >"$work/broken.nbt"
    if (cd "$cpack_dir" && cpack -G DEB -B "$work/broken" -D NEBRIN_PACKAGE_THEME="$work/broken.nbt" \
        -D NEBRIN_PACKAGE_PROVIDER="Example Net" >"$work/cpack.log" 2>&1); then
        fail "cpack made a package with a broken theme"
    fi
    grep -q "Not a theme the program loads" "$work/cpack.log" || fail "no reason given for the broken theme: $(cat "$work/cpack.log")"
    ls "$work"/broken/nebrin_*.deb >/dev/null 2>&1 && fail "a package was left with the broken theme"
    [ "$failures" -eq 0 ] || exit 1
    echo "packages of $cpack_dir: OK"
    exit 0
fi

[ -f "$deb" ] || { echo "usage: check_deb.sh DEB [options]" >&2; exit 2; }
echo "== $deb"

# ---- Control fields ----------------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = nebrin ] || fail "Package: $(field Package)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture), not $arch"
[ "$(field Section)" = net ] || fail "Section: $(field Section)"
[ "$(field Priority)" = optional ] || fail "Priority: $(field Priority)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Installed-Size)" ] || fail "no Installed-Size"
pkg_version=$(field Version)
[ -z "$version" ] || [ "$pkg_version" = "$version" ] || fail "Version: $pkg_version, not $version"
depends=", $(field Depends),"
# Ours, and what dpkg-shlibdeps finds for the programs and the modules.
for dep in ppp fonts-wine libc6 libstdc++6 libqt6widgets6 libqt6webenginewidgets6 libqt6network6; do
    [[ "$depends" =~ [,\ ]"${dep}"[,\ ] ]] || fail "Depends lacks $dep: $depends"
done
[ "$(field Recommends)" = "pkexec, qt6-wayland, qt6-translations-l10n" ] || fail "Recommends: $(field Recommends)"
synopsis=$(field Description | head -1)
[ ${#synopsis} -le 80 ] || fail "synopsis longer than 80 characters: $synopsis"
if [ -n "$name" ]; then
    # (No grep -q in a pipe: under pipefail the writer's SIGPIPE would fail it.)
    [[ "$(field Description)" == *"$name"* ]] || fail "the description does not name $name"
fi

# ---- Files -------------------------------------------------------------------------------------------
expected() {
    local f
    for f in bin/nebrin bin/nebrin-rasdial bin/nebrin-theme \
        "$moduledir"/libnebrin-web.so "$moduledir"/libnebrin-http.so \
        "$moduledir"/librasapi-pppd.so "$moduledir"/librasapi-sim.so \
        libexec/nebrin/nebrin-ppp-helper libexec/nebrin/nebrin-web \
        share/polkit-1/actions/org.nebrin.ppp-helper.policy share/polkit-1/rules.d/50-nebrin-ppp-helper.rules \
        share/nebrin/skin/default.nbt \
        share/applications/nebrin.desktop share/metainfo/org.nebrin.Nebrin.metainfo.xml \
        share/icons/hicolor/scalable/apps/nebrin.svg \
        share/man/man1/nebrin.1.gz share/man/man1/nebrin-rasdial.1.gz share/man/man1/nebrin-theme.1.gz \
        share/doc/nebrin/README.md.gz share/doc/nebrin/copyright share/doc/nebrin/changelog.gz; do
        echo "$p/$f"
    done
    for size in 16 22 24 32 48 64 128 256; do
        echo "$p/share/icons/hicolor/${size}x${size}/apps/nebrin.png"
    done
    for stage in ip-pre-up ip-up ip-down; do
        echo "etc/ppp/$stage.d/0010nebrin"
    done
}
# "mode owner size date time ./path"
dpkg-deb -c "$deb" | awk '{ sub(/^\.\//, "", $6); print $1, $2, $6 }' >"$work/listing"
awk '$1 !~ /^d/ { print $3 }' "$work/listing" | sort >"$work/files"
expected | sort >"$work/expected"
if ! diff -u "$work/expected" "$work/files" >"$work/diff"; then
    fail "file list (- expected, + in the package):"
    grep '^[-+][^-+]' "$work/diff"
fi
while read -r mode owner path; do
    [ "$owner" = root/root ] || fail "$path belongs to $owner"
    case "$mode" in
        d*) [ "$mode" = drwxr-xr-x ] || fail "$path: $mode" ;;
        *)
            case "$path" in
                "$p"/bin/* | "$p"/libexec/nebrin/* | etc/ppp/*.d/0010nebrin) want=-rwxr-xr-x ;;
                *) want=-rw-r--r-- ;;
            esac
            [ "$mode" = "$want" ] || fail "$path: $mode, not $want"
            ;;
    esac
done <"$work/listing"

# ---- The parts agree ---------------------------------------------------------------------------------
root="$work/root"
dpkg-deb -x "$deb" "$root"
policy="$root/$p/share/polkit-1/actions/org.nebrin.ppp-helper.policy"
exec_path=$(sed -n 's|.*"org.freedesktop.policykit.exec.path">\([^<]*\)<.*|\1|p' "$policy")
[ "$exec_path" = "$prefix/libexec/nebrin/nebrin-ppp-helper" ] || fail "the polkit action runs $exec_path"
desktop="$root/$p/share/applications/nebrin.desktop"
grep -qx 'Exec=nebrin' "$desktop" || fail "nebrin.desktop does not start nebrin"
grep -qx 'Icon=nebrin' "$desktop" || fail "nebrin.desktop does not show the nebrin icon"
metainfo="$root/$p/share/metainfo/org.nebrin.Nebrin.metainfo.xml"
grep -q '<launchable type="desktop-id">nebrin.desktop</launchable>' "$metainfo" || fail "the metainfo names another .desktop file"
grep -q "<release version=\"$pkg_version\"" "$metainfo" || fail "the metainfo's release is not $pkg_version"
grep -q '<content_rating type="oars-1.1"' "$metainfo" || fail "the metainfo has no content rating"
grep -q '<screenshot type="default">' "$metainfo" || fail "the metainfo has no screenshot"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$metainfo" >"$work/appstream" 2>&1 || {
        cat "$work/appstream"
        fail "appstreamcli validate"
    }
fi
[[ "$(zcat "$root/$p/share/doc/nebrin/changelog.gz")" == "nebrin ($pkg_version)"* ]] || fail "the changelog is not for $pkg_version"
for page in nebrin nebrin-rasdial nebrin-theme; do
    [[ "$(zcat "$root/$p/share/man/man1/$page.1.gz" | sed -n 1p)" == *"\"Nebrin $pkg_version\""* ]] || fail "$page.1 is not for $pkg_version"
done
packaged_theme="$root/$p/share/nebrin/skin/default.nbt"
if [ -n "$theme" ]; then
    cmp -s "$theme" "$packaged_theme" || fail "the package does not carry the theme $theme"
fi
# The packaged tool checks the packaged theme (it runs here when the host has
# its libraries).
if "$root/$p/bin/nebrin-theme" --help >/dev/null 2>&1; then
    out=$("$root/$p/bin/nebrin-theme" verify "$packaged_theme" 2>&1)
    [ "$out" = OK ] || fail "the packaged theme: $out"
fi

if [ "$failures" -ne 0 ]; then
    echo "$deb: $failures check(s) failed"
    exit 1
fi
echo "$deb: OK"
