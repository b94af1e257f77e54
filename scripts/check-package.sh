#!/usr/bin/env bash
# Builds the .deb, has lintian check it (any error or warning fails), installs it with apt as a
# user would, checks what dpkg put where, renders the manual page, starts /usr/games/kelvoradx
# in /usr/share/kelvoradx/demo on an X server until a game is dealt, and removes the package
# again. A kelvoradx that was installed before is left alone: then only the .deb itself is
# checked. Needs root.
#
#   scripts/check-package.sh [BUILD_DIR]     (default: build-pkg; set to the /usr prefix)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
app_id=io.github.kelvoradx.KelvoraDX
export DEBIAN_FRONTEND=noninteractive
# Other jobs on the machine may hold the dpkg lock for a while.
apt_opts=(-y -o DPkg::Lock::Timeout=300)

fail() {
    echo "check-package: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "installing a package needs root"

build="${1:-$top/build-pkg}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    # A build of its own needs neither the tests nor debug information.
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
else
    cmake -S "$top" -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
fi
build="$(cd "$build" && pwd)"
cmake --build "$build"

rm -f "$build"/kelvoradx_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/kelvoradx_*_amd64.deb)
if [ ! -f "${debs[0]}" ] || [ ${#debs[@]} -ne 1 ]; then
    fail "cpack made no single kelvoradx_*_amd64.deb"
fi
deb="${debs[0]}"
echo "check-package: built $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kelvoradx ] || fail "Package is $(field Package)"
[ "$(field Section)" = games ] || fail "Section is $(field Section)"
depends="$(field Depends)"
echo "check-package: Depends: $depends"
for need in libqt6widgets6 libqt6gui6 libqt6core6 libwebp7 libjxl0.7 libde265-0 libdav1d6 \
    "fonts-ipafont-gothic | fonts-noto-cjk"; do
    [[ "$depends" == *"$need"* ]] || fail "Depends lacks $need"
done
contents="$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')"
expected=(/usr/games/kelvoradx /usr/share/man/man6/kelvoradx.6.gz
    /usr/share/doc/kelvoradx/copyright /usr/share/doc/kelvoradx/changelog.Debian.gz
    /usr/share/lintian/overrides/kelvoradx
    "/usr/share/applications/$app_id.desktop"
    "/usr/share/metainfo/$app_id.metainfo.xml"
    /usr/share/kelvoradx/demo/qorfile.txt /usr/share/kelvoradx/demo/set1.jpg
    /usr/share/kelvoradx/demo/set2.png /usr/share/kelvoradx/demo/set3.bmp)
for size in 32 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
for f in "${expected[@]}"; do
    grep -qxF "$f" <<<"$contents" || fail "the .deb lacks $f"
done

# The changelog's latest entry is this very version.
changelog_version="$(dpkg-deb --fsys-tarfile "$deb" |
    tar -xOf - ./usr/share/doc/kelvoradx/changelog.Debian.gz | gzip -dc |
    dpkg-parsechangelog -l - -S Version)"
[ "$changelog_version" = "$(field Version)" ] ||
    fail "the changelog's latest entry is $changelog_version, the package $(field Version)"

# Errors and warnings fail; informational tags are shown for a look.
lintian --fail-on error,warning --display-info "$deb" || fail "lintian finds fault with the .deb"
echo "check-package: lintian accepts $(basename "$deb")"

if dpkg-query -W -f='${Status}' kelvoradx 2>/dev/null | grep -q 'install ok installed'; then
    echo "check-package: kelvoradx $(dpkg-query -W -f='${Version}' kelvoradx) is installed" \
        "already; left as it is, so the install and start check are skipped"
    exit 0
fi

# From here on the package is ours: it goes again however the check ends.
trap 'apt-get remove "${apt_opts[@]}" kelvoradx >/dev/null 2>&1 || true' EXIT
apt-get install "${apt_opts[@]}" "$deb" >/dev/null

listed="$(dpkg -L kelvoradx)"
for f in "${expected[@]}"; do
    grep -qxF "$f" <<<"$listed" || fail "dpkg -L kelvoradx does not list $f"
    [ -f "$f" ] || fail "$f is listed but not on disk"
done
entry="/usr/share/applications/$app_id.desktop"
report="$(desktop-file-validate "$entry" 2>&1)" || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
path="$(sed -n 's/^Path=//p' "$entry")"
[ "$path" = /usr/share/kelvoradx/demo ] || fail "Path= is $path"
exec="$(sed -n 's/^Exec=//p' "$entry")"
[ "$exec" = /usr/games/kelvoradx ] || fail "Exec= is $exec"
page="$(man -w kelvoradx)" || fail "man finds no page for kelvoradx"
[ "$page" = /usr/share/man/man6/kelvoradx.6.gz ] || fail "man finds $page for kelvoradx"
"$top/scripts/check-install.sh" --man "$page"

"$top/scripts/check-install.sh" --start "$exec" "$path" \
    "$(sed -n 's/^StartupWMClass=//p' "$entry")"

apt-get remove "${apt_opts[@]}" kelvoradx >/dev/null
trap - EXIT
if dpkg-query -W -f='${Status}' kelvoradx 2>/dev/null | grep -q 'install ok installed'; then
    fail "kelvoradx is still installed after apt-get remove"
fi
[ ! -e /usr/games/kelvoradx ] || fail "/usr/games/kelvoradx is left after apt-get remove"
echo "check-package: ok (installed, started and removed $(basename "$deb"))"
