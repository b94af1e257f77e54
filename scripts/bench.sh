#!/usr/bin/env bash
# Builds the benchmarks (Release) and prints the figures: Again on large pictures against a
# full decode, the peak memory of a game after Again, the start-up of the whole program
# against a minimal Qt program with the same two windows, under Xvfb, and what a large picture
# of each newer format adds to start-up against its own command-line decoder on the same file.
#   KELVORA_BENCH_DIR     build folder (default: build-bench in the repository)
#   KELVORA_BENCH_ROUNDS  starts of each program for the start-up median (default: 15)
#   KELVORA_BENCH_FORMAT_ROUNDS  starts and decodes for the newer formats' medians (default: 5)
# Exits non-zero only when a program fails; a missed target is printed as MISSED.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dir="${KELVORA_BENCH_DIR:-$top/build-bench}"
rounds="${KELVORA_BENCH_ROUNDS:-15}"

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVORA_BENCH=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" --target kelvoradx bench_again minimal_two_windows startup_probe \
  make_heic_grid

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
echo
xvfb-run -a -s "-screen 0 1280x1024x24" "$dir/bench/startup_probe" "$rounds" \
  kelvoradx "$top/demo" "$dir/kelvoradx" \
  minimal_two_windows "$top/demo" "$dir/bench/minimal_two_windows" || {
  rc=$?
  [ "$rc" -eq 3 ] || exit "$rc"
  missed=1
}
echo

# The newer formats. The pictures are made once and kept in the build folder: WebP, AVIF and
# JPEG XL of 4000 x 3000 as their encoders write them, and a HEIC of 8064 x 6048 (48 million
# pixels) as a phone stores it, a grid of 512 x 512 tiles. What each adds to the start-up of the
# game on the demo's small pictures is set against its own decoder's time on the same file:
# dwebp, heif-convert and avifdec writing YCbCr (y4m, no RGB at all), djxl decoding to pixels.
format_rounds="${KELVORA_BENCH_FORMAT_ROUNDS:-5}"
pictures="$dir/new-formats"
mkdir -p "$pictures"
photo="$pictures/photo.png"
[ -f "$photo" ] || convert -seed 3 -size 400x300 plasma: -resize 4000x3000! "$photo"
[ -f "$pictures/big.webp" ] || cwebp -quiet "$photo" -o "$pictures/big.webp"
[ -f "$pictures/big.avif" ] || avifenc -s 6 -j all "$photo" "$pictures/big.avif" >/dev/null
[ -f "$pictures/big.jxl" ] || cjxl "$photo" "$pictures/big.jxl" 2>/dev/null
if [ ! -f "$pictures/big.heic" ]; then
  echo "bench: coding the 48-megapixel HEIC's 192 tiles with heif-enc (a few minutes, once)"
  convert -seed 3 -size 800x600 plasma: -resize 8064x6048! "$pictures/phone.png"
  "$dir/bench/make_heic_grid" "$pictures/phone.png" 512 "$pictures/big.heic"
fi
scratch="$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)"
trap 'rm -rf "$runtime" "$scratch"' EXIT
# The median wall time of a command, in ms, over format_rounds runs after one to warm up.
median_ms() {
  local times=() start end i
  "$@" >/dev/null 2>&1
  for ((i = 0; i < format_rounds; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] / 1000 }'
}
declare -A decoder=(
  [webp]="dwebp $pictures/big.webp"
  [heic]="heif-convert $pictures/big.heic $scratch/out.y4m"
  [avif]="avifdec $pictures/big.avif $scratch/out.y4m"
  [jxl]="djxl $pictures/big.jxl"
)
probe_args=(small "$top/demo" "$dir/kelvoradx")
for f in webp heic avif jxl; do
  mkdir -p "$pictures/$f"
  ln -sf "../big.$f" "$pictures/$f/big.$f"
  printf 'big.%s\r\nbig.%s\r\nbig.%s\r\n' "$f" "$f" "$f" >"$pictures/$f/qorfile.txt"
  probe_args+=("$f" "$pictures/$f" "$dir/kelvoradx")
done
starts="$(xvfb-run -a -s "-screen 0 1280x1024x24" "$dir/bench/startup_probe" "$format_rounds" \
  "${probe_args[@]}")"
echo "$starts"
start_ms() { awk -v n="$1" '$1 == n { print $2 }' <<<"$starts"; }
small_ms="$(start_ms small)"
echo "What a large picture adds to start-up, against its own decoder (target <= 1.2x):"
for f in webp heic avif jxl; do
  # shellcheck disable=SC2086 # the command's words
  cli="$(median_ms ${decoder[$f]})"
  added="$(awk -v a="$(start_ms "$f")" -v b="$small_ms" 'BEGIN { printf "%.1f", a - b }')"
  verdict="$(awk -v a="$added" -v c="$cli" 'BEGIN { print (a <= 1.2 * c ? "met" : "MISSED") }')"
  [ "$verdict" = met ] || missed=1
  printf '  %-5s %-28s +%8.1f ms   %-13s %8.1f ms   %.2fx (%s)\n' "$f" \
    "$(basename "$(readlink -f "$pictures/big.$f")") $(du -k "$pictures/big.$f" | cut -f1) kB" \
    "$added" "${decoder[$f]%% *}" "$cli" \
    "$(awk -v a="$added" -v c="$cli" 'BEGIN { printf "%.2f", a / c }')" "$verdict"
done
linked="$(ldd "$dir/kelvoradx" | grep -cE 'lib(webp|jxl|de265|dav1d|heif|avif)' || true)"
echo "Codec libraries linked into kelvoradx (each start would load them): $linked"
[ "$linked" -eq 0 ] || missed=1

echo
if [ "$missed" -eq 0 ]; then
  echo "bench: every target met"
else
  echo "bench: some target MISSED (see above)"
fi
