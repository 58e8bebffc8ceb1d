#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the normal build with warnings as
# errors, a bounded run of every fuzz target, and the same tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
stage() { printf '\n==== %s ====\n' "$*"; }

stage "Build and test"
cmake -S . -B build -G Ninja -DTESSEL_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

if [ -f scripts/fuzz.sh ]; then
    stage "Fuzzing"
    bash scripts/fuzz.sh
fi

stage "Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DTESSEL_WERROR=ON \
    -DTESSEL_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    TESSEL_SANITIZED=1 ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
