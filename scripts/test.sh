#!/usr/bin/env bash
# Sets everything up and runs every test: the normal build under Xvfb (the
# Python module's pytest suite included, run by Debian's /usr/bin/python3
# against the module in the build folder), the same C++ tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer, the device-link tests under
# ThreadSanitizer, 60 s of fuzzing of the decoder and the Debian package check.
# LDS_QUICK=1 runs only the normal build's tests.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc)

"$here/scripts/setup.sh" "$here/build"

run_ctest() {  # build-dir [ctest args...]
  local dir=$1
  shift
  # GUI tests need a display: one Xvfb server for the whole run. Without
  # -noreset the server resets whenever its last client leaves, and a test
  # connecting at that moment is refused.
  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
}

# Size of the tests against the product code, in non-blank lines of C++ and
# Python (the library and its Python module included).
test_share() {
  local code tests
  code=$(git -C "$here" ls-files -- serial protocol scan viewer app sim record lds python | grep -E '\.(cpp|h|py)$' |
    (cd "$here" && xargs cat) | grep -cv '^[[:space:]]*$')
  tests=$(git -C "$here" ls-files -- tests | grep -E '\.(cpp|h|py)$' | (cd "$here" && xargs cat) |
    grep -cv '^[[:space:]]*$')
  LC_ALL=C awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests/code = %.2f (%d / %d lines)\n", t / c, t, c }'
}

echo "== Tests (RelWithDebInfo), the Python module's pytest suite included"
run_ctest "$here/build"

if [ "${LDS_QUICK:-0}" = "1" ]; then
  test_share
  exit 0
fi

echo "== Tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$here" -B "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DLDS_SANITIZE=ON -DLDS_BUILD_BENCH=OFF >/dev/null
cmake --build "$here/build-asan" -j"$jobs"
# Mesa and the X libraries keep allocations for the life of the process.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS=suppressions=$here/tests/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_ctest "$here/build-asan"

echo "== Device-link tests with ThreadSanitizer"
cmake -S "$here" -B "$here/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DLDS_TSAN=ON -DLDS_GUI=OFF -DLDS_BUILD_BENCH=OFF >/dev/null
cmake --build "$here/build-tsan" -j"$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest "$here/build-tsan" -L link

if [ -f "$here/fuzz/decoder.cmake" ]; then
  echo "== Fuzzing the decoder for 60 s"
  CC=clang CXX=clang++ cmake -S "$here" -B "$here/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLDS_FUZZ=ON \
    -DLDS_GUI=OFF -DLDS_BUILD_TESTS=OFF -DLDS_BUILD_BENCH=OFF >/dev/null
  cmake --build "$here/build-fuzz" -j"$jobs" --target fuzz_decoder
  rm -rf "$here/build-fuzz/corpus" && mkdir -p "$here/build-fuzz/corpus"
  "$here/build-fuzz/fuzz/fuzz_decoder" -max_total_time=60 -print_final_stats=1 \
    "$here/build-fuzz/corpus" "$here/fuzz/corpus" 2>&1 | tail -15
fi

if [ -f "$here/packaging/CMakeLists.txt" ]; then
  echo "== Debian package"
  "$here/scripts/package-check.sh" "$here/build"
fi
echo "All test stages passed."
test_share
