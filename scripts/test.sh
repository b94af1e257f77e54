#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"

# The installed tree and the Debian package, each started once to a dealt game.
"$top/scripts/check-install.sh" "$top/build"
if [ "$(id -u)" -eq 0 ]; then
  "$top/scripts/check-package.sh" "$top/build-pkg"
else
  echo "test: package check skipped (installing a .deb needs root)"
fi

(cd "$top/build" && ctest --output-on-failure --timeout 300)

# The suite again under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
"$top/scripts/test-sanitized.sh" "$top/build-asan"

# libFuzzer targets, built with clang: 30 s each; fails on a crash, leak or timeout.
"$top/scripts/fuzz.sh" "$top/build-fuzz" 30
