#!/usr/bin/env bash
# Fails when a C or C++ source differs from the style in .clang-format
# (the generated code page tables excepted).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
git ls-files | grep -E '\.(c|cc|cpp|h|hpp)$' | grep -v 'codepagetables\.cpp$' \
  | xargs clang-format --dry-run --Werror
