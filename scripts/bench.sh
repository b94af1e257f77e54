#!/usr/bin/env bash
# Builds the benchmarks (Release) and prints the figures: Again on large pictures against a
# full decode, the peak memory of a game after Again, and the start-up of the whole program
# against a minimal Qt program with the same two windows, under Xvfb: without a window manager
# and under each of fluxbox, kwin_x11, i3, openbox and mutter, one row each with its floor; and
# what each newer format adds to start-up against the format's own tool on the same file.
#   KELVORA_BENCH_DIR     build folder (default: build-bench in the repository)
#   KELVORA_BENCH_ROUNDS  starts of each program for the start-up median (default: 15; 9 under
#                         each window manager)
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

# The newer formats: what each picture adds to start-up (against the demo pictures) beside the
# format's own tool on the same file: rsvg-convert drawing at the shown size, tiffcp decoding
# the whole TIFF, ImageMagick decoding the icon. Target: at most 1.2x the tool.
work="$(mktemp -d)"
trap 'rm -rf "$runtime" "$work"' EXIT
for f in svg tif ico; do
  mkdir -p "$work/$f"
  printf 'picture.%s\r\npicture.%s\r\npicture.%s\r\n' "$f" "$f" "$f" >"$work/$f/qorfile.txt"
done
{
  echo '<svg xmlns="http://www.w3.org/2000/svg" width="1600" height="1200">'
  awk 'BEGIN { srand(7); for (i = 0; i < 3000; ++i)
    printf "<circle cx=\"%d\" cy=\"%d\" r=\"%d\" fill=\"#%06x\" opacity=\"0.6\"/>\n",
      rand() * 1600, rand() * 1200, 5 + rand() * 60, rand() * 16777215 }'
  echo '</svg>'
} >"$work/svg/picture.svg"
convert -seed 7 -size 4000x3000 plasma: -depth 8 -compress LZW "$work/tif/picture.tif"
convert -seed 7 -size 256x256 plasma: -define icon:auto-resize=256,48,32,16 "$work/ico/picture.ico"
xvfb-run -a -s "-screen 0 1280x1024x24" "$dir/bench/startup_probe" "$rounds" \
  demo "$top/demo" "$dir/kelvoradx" svg "$work/svg" "$dir/kelvoradx" \
  tiff "$work/tif" "$dir/kelvoradx" ico "$work/ico" "$dir/kelvoradx" | tee "$work/startup.txt"
# The median of `rounds` runs of a command, in ms.
tool_ms() {
  for _ in $(seq "$rounds"); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    echo $((($(date +%s%N) - start) / 1000))
  done | sort -n | awk '{ a[NR] = $1 } END { printf "%.1f", a[int((NR + 1) / 2)] / 1000 }'
}
svg_tool=$(tool_ms rsvg-convert -w 289 -h 257 -o "$work/out.png" "$work/svg/picture.svg")
tif_tool=$(tool_ms tiffcp -c none "$work/tif/picture.tif" "$work/out.tif")
ico_tool=$(tool_ms convert "$work/ico/picture.ico[0]" ppm:-)
median_of() { awk -v n="$1" '$1 == n { print $2 }' "$work/startup.txt"; }
base=$(median_of demo)
echo "What each format adds to start-up, against its own tool on the same file:"
for row in "svg SVG_1600x1200,_3000_circles rsvg-convert_at_289x257 $svg_tool" \
  "tiff TIFF_4000x3000_LZW tiffcp_-c_none $tif_tool" \
  "ico ICO_of_256,_48,_32,_16 ImageMagick_decode $ico_tool"; do
  read -r name what tool ms <<<"$row"
  added=$(awk -v a="$(median_of "$name")" -v b="$base" 'BEGIN { printf "%.1f", a - b }')
  verdict=$(awk -v a="$added" -v t="$ms" 'BEGIN { print (a <= 1.2 * t ? "met" : "MISSED") }')
  [ "$verdict" = met ] || missed=1
  printf '  %-32s adds %7.1f ms; %s %7.1f ms (%.2fx, target <= 1.2x: %s)\n' "${what//_/ }" \
    "$added" "${tool//_/ }" "$ms" "$(awk -v a="$added" -v t="$ms" 'BEGIN { printf "%.2f", a / t }')" \
    "$verdict"
done

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
trap 'rm -rf "$runtime" "$work" "$scratch"' EXIT
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
