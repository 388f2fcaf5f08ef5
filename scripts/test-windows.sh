#!/usr/bin/env bash
# Builds the Windows x64 programs (scripts/build-windows.sh) and runs their
# tests under Wine: the command-line cases, the unit suites that mean
# something on Windows and the end-to-end cases, in which vexlink.exe talks
# to the Linux host emulator on 127.0.0.1. Cases that cannot mean anything on
# Windows are reported as skipped, each with its reason (ctest -V shows it).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${WIN_BUILD_DIR:-$root/build-win}"
# The end-to-end cases take the Linux build's emulator (scripts/build.sh).
linux="${BUILD_DIR:-$root/build}"
export WIN_BUILD_DIR="$build" WINEDEBUG=-all
"$root/scripts/build-windows.sh" -DVEXLINK_LINUX_HOSTEMU="$linux/hostemu/vexlink-hostemu" "$@"
# One Wine server for the whole run (it stays 60 s after the last program
# ends, then goes by itself): a program then starts in a third of a second
# instead of one. A server already running (exit code 2) serves as well.
wineserver -p 60 || true
cd "$build"
ctest --output-on-failure -j2 --timeout 900
