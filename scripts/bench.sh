#!/usr/bin/env bash
# Builds the benchmarks (Release) and prints the figures: Again on large pictures against a
# full decode, the peak memory of a game after Again, and the start-up of the whole program
# against a minimal Qt program with the same two windows, under Xvfb: without a window manager
# and under each of fluxbox, kwin_x11, i3, openbox and mutter, one row each with its floor.
#   KELVORA_BENCH_DIR     build folder (default: build-bench in the repository)
#   KELVORA_BENCH_ROUNDS  starts of each program for the start-up median (default: 15; 9 under
#                         each window manager)
# Exits non-zero only when a program fails; a missed target is printed as MISSED.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dir="${KELVORA_BENCH_DIR:-$top/build-bench}"
rounds="${KELVORA_BENCH_ROUNDS:-15}"

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVORA_BENCH=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" --target kelvoradx bench_again minimal_two_windows startup_probe

# Qt wants a private runtime folder; without one it warns at every start.
runtime="$(mktemp -d)"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"

echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
  "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
  "$(. /etc/os-release && echo "$PRETTY_NAME")"
echo

missed=0
"$dir/bench/bench_again" || {
  rc=$?
  [ "$rc" -eq 2 ] || exit "$rc"
  missed=1
}
# The game's start-up against the minimal program's on an X server of its own, through "$@"
# (nothing, or bench-desktop.sh and a window manager); a missed target is noted.
startup() {
  local startupRounds="$1"
  shift
  xvfb-run -a -s "-screen 0 1280x1024x24" "$@" "$dir/bench/startup_probe" "$startupRounds" \
    kelvoradx "$top/demo" "$dir/kelvoradx" \
    minimal_two_windows "$top/demo" "$dir/bench/minimal_two_windows" || {
    rc=$?
    [ "$rc" -eq 3 ] || exit "$rc"
    missed=1
  }
}
echo
startup "$rounds"
echo
echo "Start-up until both windows are viewable under a window manager, median of" \
  "${KELVORA_BENCH_ROUNDS:-9} runs each, against the minimal program (the floor):"
for wm in fluxbox kwin_x11 i3 openbox mutter; do
  startup "${KELVORA_BENCH_ROUNDS:-9}" "$top/scripts/bench-desktop.sh" "$wm"
done
echo
if [ "$missed" -eq 0 ]; then
  echo "bench: every target met"
else
  echo "bench: some target MISSED (see above)"
fi
