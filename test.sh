#!/usr/bin/env bash
# Installs what is missing, builds the Release tree (build-release/, shared
# with ./run.sh and the package), and runs every test through ctest and
# ./run.sh without a display; then cross-builds the Windows programs with
# MinGW-w64 against Qt for Windows and runs their tests, the programs and
# their installer under Wine; then makes the Debian package and checks it;
# then soaks the real program on the simulated board for 30 s; then builds
# one tree with clang's AddressSanitizer and UndefinedBehaviorSanitizer
# (build-sanitize/), runs the unit and widget tests again in it, and fuzzes
# the receive path and the recording reader for 30 and 15 s, and the plan,
# report and CSV readers for 10 s each, from the same tree.
# Stops with a non-zero status at the first stage that fails.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
quorvid_install_missing clang-14 libclang-rt-14-dev "${QUORVID_PACKAGE_CHECK_PACKAGES[@]}" \
  "${QUORVID_WINDOWS_PACKAGES[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
# Most tests wait on pseudo-terminals, child programs and timers rather than
# compute: twice as many at once as there are cores keeps both busy (a
# sanitizer run of the suite: 111 s at 2, 52 s at 4 on two cores).
ctest_jobs=$((jobs * 2))
stage_times=()
heading() {
  if [ -n "${stage_name:-}" ]; then stage_times+=("$stage_name $((SECONDS - stage_start)) s;"); fi
  stage_name=${1%% *} stage_start=$SECONDS
  printf '\n==== %s ====\n' "$*"
}
# "100% tests passed, 0 tests failed out of 61" from a ctest log.
ctest_summary() { grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1; }
ctest_total() { ctest_summary "$1" | sed -E 's/.* out of ([0-9]+).*/\1/'; }

heading "1/6 Build and tests (build-release/, the tree ./run.sh and the package use)"
# One Release tree for the tests, ./run.sh and the Debian package
# (scripts/release-tree.sh), so the programs are compiled once. The benchmark
# programs are built by bench/bench.sh and bench/load.sh, which run them;
# building them here too would cost a minute and test nothing.
source scripts/release-tree.sh
quorvid_configure_release -DQUORVID_BUILD_TESTS=ON -DQUORVID_DIST=ON
cmake --build build-release -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build-release --output-on-failure -j "$ctest_jobs" --timeout 300 \
  | tee build-release/ctest.log
# ./run.sh without a display: the simulated board and the terminal monitor,
# values lines within 60 s.
tests/run_headless.sh | tee build-release/run_headless.log

heading "2/6 Windows: cross-built with MinGW-w64, tests, programs and installer under Wine (build-windows/)"
# Qt for Windows from the toolchain archive (QUORVID_WINDOWS_QT, default
# ../shared/toolchains/ beside the clone), unpacked into build-windows/ once;
# the Linux programs of stage 1 (build-release/) serve the COM port and give the output to match.
mkdir -p build-windows
scripts/test-windows.sh --build-dir build-windows --linux-build build-release | tee build-windows/test-windows.log

heading "3/6 Debian package: made from build-release/, lintian, run from the unpacked tree, manual pages, metadata"
dist/check-deb.sh --build-dir build-release | tee build-release/check-deb.log

heading "4/6 Soak: the program on the simulated board at speed 150, 1 % of bytes lost, 30 s"
# The real program under its own X server; fails when it dies or its resident
# memory grows by more than 2 MiB.
bench/soak.sh --seconds 30 --build-dir build-release | tee build-release/soak.log

heading "5/6 Unit and widget tests under AddressSanitizer and UndefinedBehaviorSanitizer (build-sanitize/)"
# clang 14's sanitizers, in the tree the fuzz targets of stage 6 come from too:
# everything is built once with libFuzzer's coverage instrumentation besides,
# which the tests do not notice. Any report ends the test that made it; the
# build needs the same settings, as test discovery runs the test programs.
# Leaks are reported; lsan.supp names the few that belong to system libraries.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
CXX=clang++-14 cmake -S . -B build-sanitize -G Ninja -DQUORVID_SANITIZE=ON -DQUORVID_FUZZ=ON \
  -DQUORVID_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1"
cmake --build build-sanitize -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build-sanitize --output-on-failure -j "$ctest_jobs" --timeout 300 \
  | tee build-sanitize/ctest.log

heading "6/6 Fuzzing the receive path (30 s), the recording reader (15 s), the plan, report and CSV readers (10 s each) (build-sanitize/)"
# libFuzzer's own sanitizer settings; leaks stay on.
unset ASAN_OPTIONS UBSAN_OPTIONS
# fuzz TARGET SEEDS SECONDS [MAX_LEN]: the fuzzer adds what it finds to its corpus, a
# copy in the build folder, so the seeds in the source tree stay as they are.
# Prints the final figures; on a failure, the log's end and where the input is.
fuzz() {
  local target=$1 seeds=$2 seconds=$3 max_len=${4:-4096} status=0
  mkdir -p "build-sanitize/fuzzing/$target-corpus" build-sanitize/fuzzing/fuzz-artifacts
  cp "$seeds"/* "build-sanitize/fuzzing/$target-corpus/"
  (cd build-sanitize/fuzzing && QT_QPA_PLATFORM=offscreen "../tests/fuzz/$target" "$target-corpus" \
     -max_total_time="$seconds" -max_len="$max_len" -timeout=30 -print_final_stats=1 \
     -artifact_prefix=fuzz-artifacts/) > "build-sanitize/fuzzing/$target.log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 80 "build-sanitize/fuzzing/$target.log"
    echo "$target failed (status $status); the input is in build-sanitize/fuzzing/fuzz-artifacts/," \
         "the whole log in build-sanitize/fuzzing/$target.log"
    exit 1
  fi
  echo "$target:"
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::' "build-sanitize/fuzzing/$target.log"
}
fuzz fuzz_receive tests/fuzz/seeds 30
fuzz fuzz_bytes tests/fuzz/bytes-seeds 15
fuzz fuzz_plan tests/fuzz/plan-seeds 10
fuzz fuzz_report tests/fuzz/report-seeds 10 8192
fuzz fuzz_csv tests/fuzz/csv-seeds 10
fuzz_runs() { sed -n 's/^stat::number_of_executed_units: *//p' "build-sanitize/fuzzing/$1.log"; }
receive_runs=$(fuzz_runs fuzz_receive)
bytes_runs=$(fuzz_runs fuzz_bytes)
plan_runs=$(fuzz_runs fuzz_plan)
report_runs=$(fuzz_runs fuzz_report)
csv_runs=$(fuzz_runs fuzz_csv)

heading "Summary"
echo "stages:     ${stage_times[*]}"
echo "tests:      $(ctest_summary build-release/ctest.log)"
echo "windows:    $(tail -1 build-windows/test-windows.log | sed 's/^windows: //')"
echo "package:    $(sed -n 's/^package: \(.*\); checks:.*/\1/p' build-release/check-deb.log)"
echo "headless:   $(head -1 build-release/run_headless.log)"
echo "soak:       $(grep -E 'VmRSS|RSS' build-release/soak.log | tail -1)"
echo "sanitizers: $(ctest_summary build-sanitize/ctest.log)"
echo "fuzzing:    receive path ${receive_runs:-?} inputs in 30 s, recording reader ${bytes_runs:-?}" \
     "inputs in 15 s, plan ${plan_runs:-?}, report ${report_runs:-?} and CSV ${csv_runs:-?} in 10 s each;" \
     "no crash, leak or broken invariant"
windows_passed=$(sed -n 's/^windows: \([0-9]*\) of .*/\1/p' build-windows/test-windows.log)
echo "Total: $(( $(ctest_total build-release/ctest.log) + $(ctest_total build-sanitize/ctest.log) + ${windows_passed:-0} ))" \
     "passed (${windows_passed:-0} of them under Wine), 0 failed"
