#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs every test, printing
# the time of each stage.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
begin=$SECONDS

# Runs one stage and prints its time, also when it fails.
stage() {
  local name="$1"; shift
  local start=$SECONDS rc=0
  echo "== stage $name"
  "$@" || rc=$?
  echo "== stage $name: $((SECONDS - start)) s$([ $rc -eq 0 ] || echo ", FAILED ($rc)")"
  return $rc
}

stage setup "$root/scripts/setup.sh"
# Every C and C++ source in the one style of .clang-format.
stage format "$root/scripts/check-format.sh"
# Benchmarks are not part of the test build (bench/ has its own run); in CI
# a warning fails the build.
stage build env BUILD_DIR="$build" "$root/scripts/build.sh" -DVEXLINK_BENCH=OFF -DVEXLINK_WERROR=ON
stage suite bash -c 'cd "$1" && ctest --output-on-failure -j2 --timeout 600' _ "$build"
# The Debian packages, checked by lintian (the install test is in the suite).
stage package env BUILD_DIR="$build" "$root/scripts/package.sh"
# The Windows x64 build (MinGW) and its tests under Wine; the first run on a
# machine builds OpenSSL, SQLite and GoogleTest for Windows into a cache.
stage windows env BUILD_DIR="$build" "$root/scripts/test-windows.sh"
# The whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer,
# the threaded tests under ThreadSanitizer, then the fuzz corpus replay and
# the fuzz targets for a bounded time each.
stage sanitizers "$root/scripts/test-sanitizers.sh"
stage fuzz "$root/scripts/fuzz.sh"
echo "== all stages: $((SECONDS - begin)) s"
