#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, replays every kept input
# of fuzz/corpus/<target> once (the ctest tests fuzz.replay.*), then runs each
# target for a bounded time (FUZZ_SECONDS, default 30), two at a time,
# starting from its seed corpus. New inputs go to a scratch corpus in the
# build directory; a crash, leak, time-out or failed check leaves its input
# in <build>/artifacts/ and fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
secs="${FUZZ_SECONDS:-30}"
parallel="${FUZZ_PARALLEL:-$(nproc)}"

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
start=$SECONDS
cmake --build "$build" -j"$(nproc)"
echo "== fuzz build: $((SECONDS - start)) s"
start=$SECONDS
(cd "$build" && ctest --output-on-failure -j"$(nproc)" -L fuzz)
echo "== fuzz corpus replay: $((SECONDS - start)) s"
start=$SECONDS
mkdir -p "$build/artifacts" "$build/logs"

run_one() {
  local name="$1"
  local seeds="$root/fuzz/corpus/$name" scratch="$build/corpus/$name"
  mkdir -p "$scratch" "$seeds"
  if "$build/$name" -max_total_time="$secs" -timeout=20 -rss_limit_mb=2560 -max_len=65536 \
       -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
       "$scratch" "$seeds" >"$build/logs/$name.log" 2>&1; then
    echo "fuzz: $name passed: $(grep -m1 -E '^Done [0-9]+ runs' "$build/logs/$name.log"), $(grep -m1 -E 'stat::new_units_added' "$build/logs/$name.log" | tr -s ' ')"
  else
    echo "fuzz: $name FAILED"
    tail -n 60 "$build/logs/$name.log"
    return 1
  fi
}

targets=()
for exe in "$build"/fuzz_*; do
  [ -f "$exe" ] && [ -x "$exe" ] && targets+=("$(basename "$exe")")
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no targets built"; exit 1; }

failed=0 passed=0
pids=() names=()
wait_first() {
  if wait "${pids[0]}"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  pids=("${pids[@]:1}") names=("${names[@]:1}")
}
for name in "${targets[@]}"; do
  [ ${#pids[@]} -ge "$parallel" ] && wait_first
  run_one "$name" &
  pids+=($!) names+=("$name")
done
while [ ${#pids[@]} -gt 0 ]; do wait_first; done
echo "fuzz: $passed passed, $failed failed"
echo "== fuzz runs: $((SECONDS - start)) s"
[ "$failed" -eq 0 ]
