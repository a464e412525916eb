#!/usr/bin/env bash
# Builds the libFuzzer target with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (LeakSanitizer comes with AddressSanitizer), runs
# every regression seed once, then fuzzes for a bounded time. Fails on any
# crash, sanitizer report, leak, timeout or round-trip difference.
#
# Knobs (environment): FUZZ_TIME seconds of fuzzing (60), FUZZ_JOBS parallel
# fuzzing processes (1), FUZZ_MAX_LEN largest input in bytes (65536).
EXTRA_APT_PACKAGES="clang-14 libclang-rt-14-dev"
source "$(dirname "$0")/setup.sh"

BUILD="$ROOT/build/fuzz"
FUZZ_TIME="${FUZZ_TIME:-60}"
FUZZ_JOBS="${FUZZ_JOBS:-1}"
FUZZ_MAX_LEN="${FUZZ_MAX_LEN:-65536}"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 \
  -DQC_BUILD_FUZZ=ON -DQC_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQC_WARNINGS_AS_ERRORS=ON
cmake --build "$BUILD" --target notebook_fuzzer
FUZZER="$BUILD/notebook_fuzzer"

# Seeds: our own small cases and findings (fuzz/seeds) plus the notebooks of
# the test data and the example, staged into one folder.
STAGED="$BUILD/seeds-staged"
CORPUS="$BUILD/corpus"
ARTIFACTS="$BUILD/artifacts/$(date +%Y%m%d-%H%M%S)"
rm -rf "$STAGED"
mkdir -p "$STAGED" "$CORPUS" "$ARTIFACTS"
cp fuzz/seeds/* "$STAGED"/
shopt -s nullglob
for nb in tests/data/notebooks/*.ipynb examples/*.ipynb; do
  cp "$nb" "$STAGED/data-$(basename "$nb")"
done
shopt -u nullglob

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
COMMON=(-dict="$ROOT/fuzz/notebook.dict" -timeout=10 -rss_limit_mb=2048 -max_len="$FUZZ_MAX_LEN"
        -artifact_prefix="$ARTIFACTS/")

report_failure() {
  echo "run-fuzz: FAILED ($1). Reproducers in $ARTIFACTS:" >&2
  ls -1 "$ARTIFACTS" >&2 2>/dev/null || true
  echo "Re-run one with: $FUZZER <file>; keep it as a regression seed in fuzz/seeds/." >&2
  exit 1
}

echo "run-fuzz: regression pass over $(ls "$STAGED" | wc -l) seeds"
if ! "$FUZZER" "${COMMON[@]}" "$STAGED"/* > "$BUILD/regression.log" 2>&1; then
  grep -v '^INFO' "$BUILD/regression.log" | tail -n 40 >&2
  echo "run-fuzz: failing seed: $(grep '^Running: ' "$BUILD/regression.log" | tail -n 1 | cut -c10-)" >&2
  exit 1
fi

echo "run-fuzz: fuzzing for ${FUZZ_TIME}s with ${FUZZ_JOBS} job(s)"
if [ "$FUZZ_JOBS" -gt 1 ]; then
  # Each job writes fuzz-<n>.log in the current folder: run from the build dir.
  (cd "$BUILD" && "$FUZZER" "${COMMON[@]}" -max_total_time="$FUZZ_TIME" \
      -jobs="$FUZZ_JOBS" -workers="$FUZZ_JOBS" -print_final_stats=1 "$CORPUS" "$STAGED") \
    || { tail -n 40 "$BUILD"/fuzz-*.log >&2; report_failure "fuzzing found a fault"; }
else
  "$FUZZER" "${COMMON[@]}" -max_total_time="$FUZZ_TIME" -print_final_stats=1 \
    "$CORPUS" "$STAGED" || report_failure "fuzzing found a fault"
fi
echo "run-fuzz: no crash, leak, sanitizer report or round-trip difference"
