#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine: installs what is missing,
# then builds and runs four configurations:
#   1. everything (core, windows, tools) with GCC, warnings as errors,
#      AddressSanitizer and UndefinedBehaviorSanitizer;
#   2. the Qt-free core under ThreadSanitizer;
#   3. the core's libFuzzer targets (clang), each run for a bounded time;
#   4. the core, the Windows serial layer, the windows and their tests
#      cross-built with MinGW-w64 against a Qt for MinGW (scripts/qt-mingw.sh,
#      built first when it is not cached, which takes about half an hour) and
#      run under Wine, the serial tests and the windows' road against the
#      simulator of stage 1 behind COM ports of a fresh Wine prefix
#      (scripts/wine.sh).
# After stage 1's tests the fault campaign over the reflash runs on that
# build for a bounded time (TARVIK_CAMPAIGN_SECONDS, 60 by default), then
# its cut-point mode over a random sample of cut points of each procedure
# (TARVIK_CUT_SAMPLE per procedure, 6 by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${TARVIK_FUZZ_SECONDS:-10}
campaign_seconds=${TARVIK_CAMPAIGN_SECONDS:-60}
cut_sample=${TARVIK_CUT_SAMPLE:-6}
# Compile time is most of the run: each target's files are compiled as one
# unit, and debug information is kept to line tables (enough for sanitizer
# reports; none at all for the Windows programs, whose linker spends most of
# its time on it). Everyday builds compile file by file, which keeps each
# file's includes honest.
quick_build=(-DCMAKE_UNITY_BUILD=ON)
summary=()
passed=0
failed=0

run_ctest() {  # name build-dir [ctest args...]
  local name=$1 dir=$2
  shift 2
  local log
  log=$(mktemp)
  set +e
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300 "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
  local total fails
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  fails=$(sed -E 's/.*tests passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
  if [ -z "$line" ]; then total=0; fails=1; fi
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  summary+=("$name: $((total - fails)) passed, $fails failed")
  rm -f "$log"
  [ "$rc" -eq 0 ] || [ "$fails" -gt 0 ] || failed=$((failed + 1))
}

echo "== formatting: clang-format over src, tests, tools, bench and fuzz"
mapfile -t sources < <(find src tests tools bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
if clang-format --dry-run --Werror "${sources[@]}"; then
  passed=$((passed + 1))
  summary+=("format: 1 passed, 0 failed (${#sources[@]} files)")
else
  failed=$((failed + 1))
  summary+=("format: 0 passed, 1 failed (run clang-format -i on the files above)")
fi

# stage_time NAME: how long the stage that began at stage_start took, for
# the summary.
stage_times=()
stage_start=$SECONDS
stage_time() { stage_times+=("$1: $((SECONDS - stage_start)) s"); stage_start=$SECONDS; }

echo "== 1/4: build with GCC, ASan + UBSan, warnings as errors"
cmake -S . -B build/ci-main -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVIK_WERROR=ON \
  -DTARVIK_SANITIZE=address,undefined "${quick_build[@]}" -DCMAKE_CXX_FLAGS_DEBUG=-g1 >/dev/null
ninja -C build/ci-main -j"$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
run_ctest "gcc+asan+ubsan" build/ci-main

stage_time "stage 1 (gcc+asan+ubsan)"

echo "== 1/4: the fault campaign over the reflash, ${campaign_seconds}s"
campaign_log=$(mktemp)
set +e
build/ci-main/tools/campaign/tarvik-campaign --seconds "$campaign_seconds" 2>&1 | tee "$campaign_log"
campaign_rc=${PIPESTATUS[0]}
set -e
# Its closing figures: runs, faults met by kind, outcomes, violations.
mapfile -t campaign_figures < <(sed -n '/^campaign: [0-9]/,$p' "$campaign_log" | sed 's/^/  /')
if [ "$campaign_rc" -eq 0 ]; then
  passed=$((passed + 1))
  summary+=("campaign: 1 passed, 0 failed" "${campaign_figures[@]}")
else
  failed=$((failed + 1))
  summary+=("campaign: 0 passed, 1 failed (replay the VIOLATION above with its command)" "${campaign_figures[@]}")
fi
echo "== 1/4: recovery from a sample of cut points, ${cut_sample} per procedure"
set +e
build/ci-main/tools/campaign/tarvik-campaign --cut-sample "$cut_sample" 2>&1 | tee "$campaign_log"
cut_rc=${PIPESTATUS[0]}
set -e
mapfile -t cut_figures < <(sed -n '/^campaign: cut points/,$p' "$campaign_log" | sed 's/^/  /')
if [ "$cut_rc" -eq 0 ]; then
  passed=$((passed + 1))
  summary+=("cut points: 1 passed, 0 failed" "${cut_figures[@]}")
else
  failed=$((failed + 1))
  summary+=("cut points: 0 passed, 1 failed (replay the cut NOT RECOVERED above with its command)" "${cut_figures[@]}")
fi
rm -f "$campaign_log"
stage_time "campaign"

echo "== 2/4: the core under ThreadSanitizer"
cmake -S . -B build/ci-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_WERROR=ON \
  -DTARVIK_WITH_UI=OFF -DTARVIK_BENCH=OFF -DTARVIK_SANITIZE=thread "${quick_build[@]}" \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" >/dev/null
ninja -C build/ci-tsan -j"$jobs"
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} run_ctest "tsan" build/ci-tsan

stage_time "stage 2 (tsan)"

echo "== 3/4: libFuzzer targets, ${fuzz_seconds}s each"
CC=clang CXX=clang++ cmake -S . -B build/ci-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${quick_build[@]}" \
  -DTARVIK_WERROR=ON -DTARVIK_WITH_UI=OFF -DTARVIK_FUZZ=ON -DTARVIK_SANITIZE=address,undefined >/dev/null
fuzz_targets=$(ninja -C build/ci-fuzz -t targets all | grep -Eo '^fuzz/fuzz_[a-z0-9_]+:' | tr -d : | sort -u)
# shellcheck disable=SC2086
ninja -C build/ci-fuzz -j"$jobs" $fuzz_targets
fuzz_pass=0
fuzz_fail=0
fuzz_report=()
for fz in build/ci-fuzz/fuzz/fuzz_*; do
  [ -x "$fz" ] || continue
  name=$(basename "$fz")
  corpus=$(mktemp -d)
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  if "$fz" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
      "$corpus" "${seeds[@]}" >"$corpus.log" 2>&1; then
    # The last status line: coverage (edges of the instrumented core and
    # target), features and the corpus the run ended with.
    runs=$(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$corpus.log" | tail -1 |
      sed -E 's/Done ([0-9]+) runs in ([0-9]+) second/\1 runs in \2 s/' || true)
    cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$corpus.log" | tail -1 || true)
    echo "fuzz $name: ok ($runs, $cov)"
    fuzz_report+=("  $name: $runs, $cov")
    fuzz_pass=$((fuzz_pass + 1))
  else
    echo "fuzz $name: FAILED"; tail -40 "$corpus.log"
    fuzz_fail=$((fuzz_fail + 1))
  fi
  rm -rf "$corpus" "$corpus.log"
done
passed=$((passed + fuzz_pass))
failed=$((failed + fuzz_fail))
summary+=("fuzz: $fuzz_pass passed, $fuzz_fail failed" "${fuzz_report[@]}")

stage_time "stage 3 (fuzz)"

echo "== 4/4: Windows core, serial layer and windows under Wine"
qt_kit=$(scripts/qt-mingw.sh --print)
if [ -f "$qt_kit/.complete" ]; then
  echo "Qt for MinGW: cached in $qt_kit"
  summary+=("qt for mingw: cached ($qt_kit)")
else
  echo "Qt for MinGW is not cached: building it first into $qt_kit (about 30 min on two idle cores; log in build/qt-mingw.log)"
  mkdir -p build
  kit_start=$SECONDS
  if scripts/qt-mingw.sh >build/qt-mingw.log 2>&1; then
    kit_seconds=$((SECONDS - kit_start))
    echo "Qt for MinGW: built in $((kit_seconds / 60)) min $((kit_seconds % 60)) s"
    summary+=("qt for mingw: not cached, built in $((kit_seconds / 60)) min $((kit_seconds % 60)) s ($(tail -2 build/qt-mingw.log | head -1 | sed 's/^qt-mingw: //'))")
  else
    tail -60 build/qt-mingw.log
    summary+=("qt for mingw: not cached, and its build FAILED (build/qt-mingw.log)")
  fi
  stage_time "Qt for MinGW (not cached, built)"
fi
if [ ! -f "$qt_kit/.complete" ]; then
  # Without the kit nothing of the Windows build can run: the stage fails.
  failed=$((failed + 1))
  summary+=("wine: not run, there is no Qt for MinGW")
else
  cmake -S . -B build/ci-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
    -DCMAKE_PREFIX_PATH="$qt_kit" -DCMAKE_BUILD_TYPE=Debug -DTARVIK_WERROR=ON -DTARVIK_BENCH=OFF \
    "${quick_build[@]}" -DCMAKE_CXX_FLAGS_DEBUG=-O0 -DCMAKE_C_FLAGS_DEBUG=-O0 >/dev/null
  ninja -C build/ci-win -j"$jobs"
  # shellcheck source=scripts/wine.sh
  source scripts/wine.sh
  trap wine_stop EXIT
  if wine_start build/ci-win build/ci-main/tools/simulator/tarvik-sim; then
    run_ctest "wine" build/ci-win
  else
    failed=$((failed + 1))
    summary+=("wine: the simulated COM ports did not start")
  fi
  wine_stop
  trap - EXIT
fi
stage_time "stage 4 (wine)"

echo
printf '%s\n' "${stage_times[@]}"
printf '%s\n' "${summary[@]}"
echo "Summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
