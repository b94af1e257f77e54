#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 and runs each for a while from a copy of its seed
# corpus; fails on any crash, leak, timeout or memory blow-up. No picture may cost more than
# 200 MB in the game; under the sanitizers' own overhead a run stays within 1 GB and no single
# allocation may reach 256 MB (a file that makes a decoder allocate what a header claims does).
# Inputs reach 32 KB: the smallest progressive JPEG read from its blocks' means is about 28 KB.
# Usage: scripts/fuzz.sh [BUILD_DIR] [SECONDS]   (defaults: build-fuzz, 30)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build-fuzz}"
seconds="${2:-30}"

CC=clang-14 CXX=clang++-14 cmake -S "$top" -B "$build" -G Ninja -DKELVORA_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target fuzz_listfile fuzz_picture

# A small quarantine, so that freed memory the sanitizer holds back does not count as ours.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:quarantine_size_mb=32"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for target in listfile picture; do
  mkdir -p "$work/$target" "$work/$target-artifacts"
  cp "$top/fuzz/corpus/$target/"* "$work/$target/"
done

# Seeds of the newer formats, made here by their own encoders rather than kept as files: WebP
# (lossy, lossless, with alpha, animated), HEIC (whole, and as heif-enc writes a small picture:
# a grid of one tile in 'idat'), AVIF (whole, turned, a grid, with alpha) and JPEG XL.
seeds="$work/seeds"
picture="$work/picture"
mkdir -p "$seeds"
convert -size 64x64 xc:red -fill blue -draw 'rectangle 0,32 63,63' "$seeds/a.png"
convert -size 128x128 xc:red -fill blue -draw 'circle 64,64 64,30' "$seeds/b.png"
convert "$seeds/a.png" -transparent blue "$seeds/alpha.png"
cwebp -quiet "$seeds/a.png" -o "$picture/tiny.webp"
cwebp -quiet -lossless "$seeds/a.png" -o "$picture/lossless.webp"
cwebp -quiet "$seeds/alpha.png" -o "$picture/alpha.webp"
img2webp -loop 0 -lossless "$seeds/a.png" -lossy "$seeds/alpha.png" -o "$picture/animated.webp" \
  2>/dev/null
heif-enc -q 30 "$seeds/a.png" -o "$picture/tiny.heic" >/dev/null
convert "$seeds/a.png" -crop 24x16+0+0 "$seeds/small.png"
heif-enc -q 30 "$seeds/small.png" -o "$picture/one-tile-grid.heic" >/dev/null
avifenc -s 10 "$seeds/a.png" "$picture/tiny.avif" >/dev/null
avifenc -s 10 --irot 1 --imir 1 "$seeds/a.png" "$picture/turned.avif" >/dev/null
avifenc -s 10 -g 2x2 "$seeds/b.png" "$picture/grid.avif" >/dev/null
avifenc -s 10 "$seeds/alpha.png" "$picture/alpha.avif" >/dev/null
cjxl "$seeds/a.png" "$picture/tiny.jxl" 2>/dev/null
cjxl -d 0 "$seeds/alpha.png" "$picture/lossless-alpha.jxl" 2>/dev/null

for target in listfile picture; do
  echo "fuzz.sh: fuzz_$target for ${seconds} s"
  if ! "$build/fuzz/fuzz_$target" "$work/$target" -max_total_time="$seconds" \
      -rss_limit_mb=1024 -malloc_limit_mb=256 -timeout=10 -max_len=32768 -print_final_stats=1 \
      -artifact_prefix="$work/$target-artifacts/" >"$work/$target.log" 2>&1; then
    tail -n 60 "$work/$target.log" >&2
    mkdir -p "$build/fuzz-artifacts"
    cp "$work/$target-artifacts/"* "$build/fuzz-artifacts/" 2>/dev/null || true
    echo "fuzz.sh: fuzz_$target failed; the input is in $build/fuzz-artifacts/" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$work/$target.log" || true
done
echo "fuzz.sh: no crash, leak, timeout or memory blow-up"
