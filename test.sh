#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal build and once
# under AddressSanitizer and UndefinedBehaviorSanitizer. Any failure exits non-zero.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

JOBS=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== Build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build
echo "== Tests"
ctest --test-dir build --output-on-failure -j"$JOBS"

echo "== Build with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRETRIEVO_SANITIZE=ON >/dev/null
ninja -C build-asan
echo "== Tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$JOBS"
