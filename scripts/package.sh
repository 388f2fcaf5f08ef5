#!/usr/bin/env bash
# Builds the Debian packages (vexlink, libwirecomm-2-2, libwirecomm-2-dev,
# vexlink-hostemu) into <build>/packages with cpack and checks them with
# lintian: any error fails, warnings are printed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
rm -f "$build"/packages/*.deb
(cd "$build" && cpack -G DEB -B "$build/packages" >/dev/null)
ls "$build"/packages/*.deb
if command -v lintian >/dev/null; then
  # Exit code 2 and above: lintian itself failed; 1: an error tag.
  lintian --allow-root --fail-on error "$build"/packages/*.deb
fi
