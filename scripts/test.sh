#!/usr/bin/env bash
# Installs what is missing, builds Corvalin and runs every test: the normal
# build, the same suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# and a bounded run of the fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
corvalin_install "${CORVALIN_BUILD_PACKAGES[@]}" "${CORVALIN_TEST_PACKAGES[@]}"

# The independent reader the tests compare against (pinned in package-lock).
if [ ! -d tests/readers/node_modules/mdb-reader ]; then
  (cd tests/readers && npm ci --silent --no-audit --no-fund)
fi

export QT_QPA_PLATFORM=offscreen QTEST_DISABLE_STACK_DUMP=1
jobs=$(nproc)

echo "== build and test"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
# Leak detection stays on: the whole suite, the GUI tests under the
# offscreen platform included, runs without a leak report.
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCORVALIN_SANITIZE=ON -DCORVALIN_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzz"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVALIN_FUZZ=ON -DCORVALIN_GUI=OFF -DCORVALIN_TESTS=OFF -DCORVALIN_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"
bash fuzz/run.sh build-fuzz "${CORVALIN_FUZZ_SECONDS:-300}"
