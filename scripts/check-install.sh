#!/usr/bin/env bash
# Installs a build into a scratch DESTDIR and checks it the way a desktop sees it: the desktop
# entry and the AppStream metainfo validate, every file is where menus, the icon theme and man
# look, the manual page renders without a warning, and the installed program, started in the
# installed demo folder, deals a game on an X server.
#
#   scripts/check-install.sh [BUILD_DIR]     (default: build; configured first if it is not)
#   scripts/check-install.sh --start EXE DIR WM_CLASS
#                                            (only the start check; check-package.sh uses it)
#   scripts/check-install.sh --man FILE      (only the manual page check; check-package.sh too)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
app_id=io.github.kelvoradx.KelvoraDX
# The windows' titles, from board/Form1.cpp and picture/Form2.cpp. A failed start shows a
# message box titled like the board, so only the picture window, which is shown after the
# board once the pictures have loaded, proves that a game was dealt.
board_title="KelvoraDX"
picture_title="Kelvora　このへんがＤＸ"

fail() {
    echo "check-install: $*" >&2
    exit 1
}

# Starts EXE in DIR on a fresh Xvfb and waits until both windows of a dealt game are mapped
# and the board's WM_CLASS class is WM_CLASS; the hang guard is 30 s. Keeps a screenshot in
# SHOT when given.
start_check() {
    local exe="$1" dir="$2" wm_class="$3" shot="${4:-}"
    [ -x "$exe" ] || fail "no executable at $exe"
    [ -f "$dir/qorfile.txt" ] || fail "no qorfile.txt in $dir"
    # Window names are decoded in the locale: UTF-8 whatever the caller's is. The script runs
    # inside the X server's session and gets its values as arguments.
    # shellcheck disable=SC2016
    LC_ALL=C.UTF-8 xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
        exe="$1" dir="$2" wm_class="$3" shot="$4" board_title="$5" picture_title="$6"
        log="$(mktemp)"
        cd "$dir"
        "$exe" >"$log" 2>&1 &
        pid=$!
        board="" picture=""
        for _ in $(seq 150); do
            if ! kill -0 "$pid" 2>/dev/null; then
                echo "the program ended before a game was dealt:" >&2
                cat "$log" >&2
                exit 1
            fi
            board="" picture=""
            for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
                case "$(xdotool getwindowname "$w")" in
                "$board_title") board=$w ;;
                "$picture_title") picture=$w ;;
                esac
            done
            [ -n "$board" ] && [ -n "$picture" ] && break
            sleep 0.2
        done
        status=0
        if [ -z "$board" ] || [ -z "$picture" ]; then
            echo "no dealt game within 30 s: window \"$board_title\" ${board:-missing}," \
                "window \"$picture_title\" ${picture:-missing}; all windows:" >&2
            xwininfo -root -tree | grep -F "(\"" >&2 || true
            status=1
        else
            class="$(xprop -id "$board" WM_CLASS | sed -n "s/.*= \"[^\"]*\", \"\(.*\)\"$/\1/p")"
            if [ "$class" != "$wm_class" ]; then
                echo "the board window has WM_CLASS class \"$class\", the entry says \"$wm_class\"" >&2
                status=1
            fi
            if [ -n "$shot" ] && command -v import >/dev/null; then
                import -window root "$shot" || true
            fi
        fi
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        rm -f "$log"
        exit $status
    ' start-check "$exe" "$dir" "$wm_class" "$shot" "$board_title" "$picture_title" ||
        fail "$exe, started in $dir, did not deal a game"
    echo "check-install: $exe started in $dir and dealt a game (WM_CLASS class $wm_class)"
}

# The value of KEY in the [Desktop Entry] group of FILE.
entry_value() {
    sed -n "/^\[Desktop Entry\]/,/^\[/s/^$2=//p" "$1" | head -n 1
}

# Width and height of a PNG, from its header.
png_size() {
    od -An -tu1 -j16 -N8 "$1" |
        awk '{ printf "%dx%d\n", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}

# Renders the manual page FILE as man does for a reader, and as lintian checks it: any
# warning of groff or man fails.
man_check() {
    local page="$1" report
    [ -f "$page" ] || fail "no manual page at $page"
    report="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)" || fail "man -l $page failed: $report"
    [ -z "$report" ] || fail "man -l $page warns: $report"
    # The page must also say what the player meets most: the list file and the key F.
    for need in qorfile.txt "どかーん！" "やった！おめでとう！" "EXIT STATUS"; do
        LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$page" 2>/dev/null | grep -qF "$need" ||
            fail "the manual page $page does not mention $need"
    done
    echo "check-install: manual page $page renders without warnings"
}

if [ "${1:-}" = "--start" ]; then
    [ $# -eq 4 ] || fail "usage: $0 --start EXE DIR WM_CLASS"
    start_check "$2" "$3" "$4"
    exit 0
fi
if [ "${1:-}" = "--man" ]; then
    [ $# -eq 2 ] || fail "usage: $0 --man FILE"
    man_check "$2"
    exit 0
fi

build="${1:-$top/build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja >/dev/null
fi
build="$(cd "$build" && pwd)"
# Only what is installed: the tests need not be built for this.
cmake --build "$build" --target kelvoradx kelvora_icons_png kelvora_manpage

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" >/dev/null
prefix="$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")"
root="$stage$prefix"

for f in games/kelvoradx share/man/man6/kelvoradx.6.gz \
    "share/applications/$app_id.desktop" \
    "share/metainfo/$app_id.metainfo.xml" \
    share/kelvoradx/demo/qorfile.txt share/kelvoradx/demo/set1.jpg \
    share/kelvoradx/demo/set2.png share/kelvoradx/demo/set3.bmp; do
    [ -f "$root/$f" ] || fail "not installed: $prefix/$f"
done
[ -x "$root/games/kelvoradx" ] || fail "$prefix/games/kelvoradx is not executable"
# The package's own files stay out of a plain install.
[ ! -e "$root/share/doc/kelvoradx/changelog.Debian.gz" ] ||
    fail "a plain install carries the package's changelog"
man_check "$root/share/man/man6/kelvoradx.6.gz"
for size in 32 64 128 256; do
    icon="$root/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
    [ -f "$icon" ] || fail "no ${size}x${size} icon"
    [ "$(png_size "$icon")" = "${size}x${size}" ] ||
        fail "the ${size}x${size} icon is $(png_size "$icon")"
done

entry="$root/share/applications/$app_id.desktop"
# desktop-file-validate exits 0 after some errors too: any output is a failure.
report="$(desktop-file-validate "$entry" 2>&1)" || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
appstreamcli validate --no-net "$root/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli validate failed"
# The tree check also ties the metainfo to the desktop entry it names.
appstreamcli validate-tree --no-net "$root" >/dev/null || fail "appstreamcli validate-tree failed"

exec="$(entry_value "$entry" Exec)"
[ "$exec" = "$prefix/games/kelvoradx" ] || fail "Exec= is $exec, not $prefix/games/kelvoradx"
[ "$(entry_value "$entry" Icon)" = "$app_id" ] || fail "Icon= is not $app_id"
path="$(entry_value "$entry" Path)"
# Path= names the final location; under DESTDIR that folder sits inside the stage.
[ "$path" = "$prefix/share/kelvoradx/demo" ] || fail "Path= is $path, not under $prefix"
[ -f "$stage$path/qorfile.txt" ] || fail "Path= $path holds no qorfile.txt"

mkdir -p "$build/check-install"
start_check "$stage$exec" "$stage$path" "$(entry_value "$entry" StartupWMClass)" \
    "$build/check-install/screen.png"
echo "check-install: ok (installed to $prefix under DESTDIR)"
