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
# A Wine prefix of the run's own, made before the first test: making one takes
# 10 to 40 s, which a first test would otherwise spend inside its time limit.
# Mono and Gecko are not wanted (nothing here uses .NET or HTML).
export WINEPREFIX="${WINEPREFIX:-$build/wine}"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    t0=$SECONDS
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    wineserver -w
    echo "wine prefix $WINEPREFIX made in $((SECONDS - t0)) s"
fi
# One Wine server for the whole run: a program then starts in a third of a
# second instead of one. It is stopped when this script ends; a server already
# running for this prefix (exit code 2) serves as well and is left alone.
if wineserver -p 2>/dev/null; then
    trap 'wineserver -k 2>/dev/null || true' EXIT
fi
# The first program of a server session starts Wine's own services, which
# inherit that program's standard handles and live as long as the server. A
# test reading a program's output through a pipe would then wait for an end
# of file that never comes; so the services are started here, on /dev/null.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
cd "$build"
ctest --output-on-failure -j2 --timeout 900
