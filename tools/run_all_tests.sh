#!/usr/bin/env bash
# The whole test suite: the default build, the AddressSanitizer/UBSan build, the ThreadSanitizer
# build (engine and everything below the UI), then every fuzz target for FUZZ_SECONDS under
# ASan/UBSan. Every stage runs; the exit status is non-zero if any failed.
set -uo pipefail
cd "$(dirname "$0")/.."

JOBS=${JOBS:-$(nproc)}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
failed=()

stage() {
  local name=$1; shift
  echo
  echo "=== ${name} ==="
  local start=$SECONDS
  if "$@"; then
    echo "=== ${name}: passed ($((SECONDS - start)) s) ==="
  else
    echo "=== ${name}: FAILED ($((SECONDS - start)) s) ==="
    failed+=("$name")
  fi
}

build_and_test() {
  local preset=$1
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" -j"$JOBS" &&
    ctest --preset "$preset" -j"$JOBS" --timeout 600
}

run_fuzzers() {
  cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j"$JOBS" || return 1
  local ok=0 f name corpus
  for f in build/fuzz/fuzz/*_fuzzer; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus=$(mktemp -d)
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
    echo "--- $name for ${FUZZ_SECONDS} s"
    if ! "$f" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 "$corpus" >"$corpus.log" 2>&1; then
      tail -n 40 "$corpus.log"
      ok=1
    else
      grep -E "^(stat::number_of_executed_units|Done)" "$corpus.log" || true
    fi
    rm -rf "$corpus" "$corpus.log"
  done
  return $ok
}

stage "default build" build_and_test default
stage "asan build" build_and_test asan
stage "tsan build" build_and_test tsan
stage "fuzzing" run_fuzzers

echo
if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "All test stages passed."
