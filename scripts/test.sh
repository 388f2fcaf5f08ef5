#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
BUILD_DIR="${BUILD_DIR:-$root/build}" "$root/scripts/build.sh"
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure -j2 --timeout 600
# The Debian packages, checked by lintian (the install test is in the suite).
BUILD_DIR="$PWD" "$root/scripts/package.sh"
# The whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer,
# the threaded tests under ThreadSanitizer, then the fuzz targets for a
# bounded time each.
"$root/scripts/test-sanitizers.sh"
"$root/scripts/fuzz.sh"
