#!/usr/bin/env bash
# Sanitizer runs of the test suite, called at the end of scripts/test.sh:
#  build-asan: AddressSanitizer + UndefinedBehaviorSanitizer (leaks included),
#              the whole suite;
#  build-tsan: ThreadSanitizer, the tests labelled "threaded" (set in the
#              tests' CMakeLists: Task and locks, the program log and the
#              logger core from several threads, the configuration store, the
#              temporary file registry, the database lock, the conversation
#              library and BlockSocket, the host emulator's conversations, the
#              engine and the end-to-end and fault runs).
# Both trees are built at -O1 (the sanitizers' usual level: fast to compile,
# stacks still readable) and without benchmarks. Every sanitizer report, also
# one from a child process whose exit code a test does not look at (the host
# emulator, a vexlink started by a front end), is written to a report
# directory; any report there fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
asan_dir="${ASAN_BUILD_DIR:-$root/build-asan}"
tsan_dir="${TSAN_BUILD_DIR:-$root/build-tsan}"
jobs="$(nproc)"

# Release flags with -O1 instead of -O2; assertions stay off as in the
# normal build.
O1_FLAGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g -DNDEBUG"
          "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g -DNDEBUG")

# Runs ctest in a build directory with the sanitizer's reports going to
# files; fails when a test fails or any report was written.
run_suite() {
  local dir="$1" name="$2"; shift 2
  local reports="$dir/sanitizer-reports"
  rm -rf "$reports" && mkdir -p "$reports"
  # Runs as another user (a fault case does that as root) write here too.
  chmod 1777 "$reports"
  local rc=0
  (
    cd "$dir"
    export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:log_path=$reports/asan"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
    export TSAN_OPTIONS="second_deadlock_stack=1:log_path=$reports/tsan"
    ctest --output-on-failure --no-tests=error -j"$jobs" --timeout 900 "$@"
  ) || rc=$?
  if compgen -G "$reports/*" >/dev/null; then
    echo "$name: sanitizer reports:"
    for f in "$reports"/*; do echo "--- $f"; head -c 20000 "$f"; done
    rc=1
  fi
  return $rc
}

# Both suites run; the script fails at the end when either failed.
which="${VEXLINK_SANITIZERS:-address thread}"
start=$SECONDS
failed=""
if [[ " $which " == *" address "* ]]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer build ($asan_dir)"
  cmake -S "$root" -B "$asan_dir" "${O1_FLAGS[@]}" -DVEXLINK_SANITIZE=address -DVEXLINK_BENCH=OFF >/dev/null
  cmake --build "$asan_dir" -j"$jobs"
  echo "== asan build: $((SECONDS - start)) s"
  start=$SECONDS
  run_suite "$asan_dir" asan || failed="$failed asan"
  echo "== asan suite: $((SECONDS - start)) s"
  start=$SECONDS
fi
if [[ " $which " == *" thread "* ]]; then
  echo "== ThreadSanitizer build ($tsan_dir)"
  cmake -S "$root" -B "$tsan_dir" "${O1_FLAGS[@]}" -DVEXLINK_SANITIZE=thread -DVEXLINK_BENCH=OFF >/dev/null
  cmake --build "$tsan_dir" -j"$jobs"
  echo "== tsan build: $((SECONDS - start)) s"
  start=$SECONDS
  # The large-catalogue cases run the same threads as the other emulator
  # conversations, with much more data: the AddressSanitizer run has them.
  run_suite "$tsan_dir" tsan -L threaded -LE slow || failed="$failed tsan"
  echo "== tsan threaded tests: $((SECONDS - start)) s"
fi
if [ -n "$failed" ]; then
  echo "sanitizer suites failed:$failed"
  exit 1
fi
