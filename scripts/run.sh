#!/usr/bin/env bash
# Installs what is missing, builds, and starts the game on the bundled demo pictures.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
  echo "run: on a machine without a screen, start it under a virtual X server:" >&2
  echo "       cd $top/demo && xvfb-run -a $top/build/kelvoradx" >&2
  exit 1
fi
cd "$top/demo"
exec "$top/build/kelvoradx"
