#!/usr/bin/env bash
# Sets up a fresh machine, builds the program and shows what it does.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
exe="$root/build/project/vexlink"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
step() { echo; echo "== $*"; }
step "vexlink -h (usage, exit code 4)"
"$exe" -h || echo "exit code $?"
step "vexlink -t (code page tables, exit code 4)"
"$exe" -t || echo "exit code $?"
step "vexlink -g (writes the default vexlink.ini)"
"$exe" -g || echo "exit code $?"
cat vexlink.ini
step "vexlink -x (writes tcplogger.xml)"
"$exe" -x || echo "exit code $?"
cat tcplogger.xml
step "vexlink with no arguments (exit code 8)"
"$exe" || echo "exit code $?"
