#!/usr/bin/env bash
# Sets up a fresh machine, builds Morvane from scratch with AddressSanitizer,
# UndefinedBehaviorSanitizer and leak detection, and runs every test, then
# the Debian package test (scripts/package-test.sh), then every fuzz target
# for a short while from its seed corpus.
#   FUZZ_SECONDS=N  time per fuzz target (default 30; 0 skips fuzzing)
#   PACKAGE_TEST=0  skips the package test
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh test

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

build=build-test
rm -rf "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DMORVANE_SANITIZE=ON -DMORVANE_WERROR=ON -DMORVANE_TESTS=ON
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300

if [ "${PACKAGE_TEST:-1}" != 0 ]; then
  bash scripts/package-test.sh
fi

fuzz_seconds="${FUZZ_SECONDS:-30}"
if [ "$fuzz_seconds" -gt 0 ] && [ -f fuzz/CMakeLists.txt ]; then
  fbuild=build-fuzz
  rm -rf "$fbuild"
  CC=clang CXX=clang++ cmake -S . -B "$fbuild" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DMORVANE_FUZZ=ON -DMORVANE_SANITIZE=ON -DMORVANE_WERROR=ON -DMORVANE_TESTS=OFF
  cmake --build "$fbuild"
  for target in "$fbuild"/fuzz/fuzz_*; do
    name=$(basename "$target")
    corpus="fuzz/corpus/${name#fuzz_}"
    work=$(mktemp -d)
    cp -r "$corpus"/. "$work"/ 2>/dev/null || true
    echo "== $name for ${fuzz_seconds}s"
    "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=1024 -malloc_limit_mb=256 \
      -print_final_stats=0 "$work" 2>&1 | tail -n 3
    rm -rf "$work"
  done
fi
