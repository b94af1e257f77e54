#!/usr/bin/env bash
# Runs inside an X server of its own (xvfb-run): starts one window manager with a home of its
# own, waits until it has claimed the screen, then runs the given command; stops the manager.
#   bench-desktop.sh NAME COMMAND...   NAME: openbox, fluxbox, i3, kwin_x11 or mutter
set -euo pipefail
name="$1"
shift
home="$(mktemp -d)"
# The manager ends with its display; nothing waits for it.
trap 'kill "$wm" 2>/dev/null || true; rm -rf "$home"' EXIT
case "$name" in
  i3)
    # No bar, no first-run wizard.
    printf 'font pango:DejaVu Sans 9\n' >"$home/i3-config"
    HOME="$home" i3 -c "$home/i3-config" >/dev/null 2>&1 &
    ;;
  fluxbox)
    # Its style's wallpaper helper would put up a window of its own.
    mkdir -p "$home/.fluxbox"
    printf 'background: none\n' >"$home/overlay"
    printf 'session.styleOverlay: %s\n' "$home/overlay" >"$home/init"
    HOME="$home" fluxbox -rc "$home/init" >/dev/null 2>&1 &
    ;;
  kwin_x11 | mutter)
    args=(--replace)
    [ "$name" = mutter ] && args=(--x11 --replace)
    HOME="$home" GSETTINGS_BACKEND=memory dbus-run-session -- "$name" "${args[@]}" \
      >/dev/null 2>&1 &
    ;;
  *)
    HOME="$home" "$name" >/dev/null 2>&1 &
    ;;
esac
wm=$!
for _ in $(seq 150); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
sleep 1 # the manager's own start-up work, done before the first program starts
KELVORA_BENCH_DESKTOP="$name" "$@"
