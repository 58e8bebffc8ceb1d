#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the normal build with warnings as
# errors, a build without Qt, the Debian package (built, validated, installed, started and
# removed), a bounded run of every fuzz target, the same tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer, and the engine's tests and fault sweeps under ThreadSanitizer.
# Each build is a preset of CMakePresets.json.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
stage() { printf '\n==== %s ====\n' "$*"; }

stage "Build and test"
cmake --preset normal
cmake --build --preset normal -j "$jobs"
ctest --preset normal -j "$jobs"

# Qt's CMake files are hidden from this build, so any use of Qt outside the window fails it.
stage "Build without Qt: the engine, the file services, their tests and the benchmark"
cmake --preset noqt
cmake --build --preset noqt -j "$jobs"
ctest --test-dir build-noqt -L 'engine|ui' -j "$jobs"

stage "Debian package"
started=$SECONDS
TESSEL_JOBS=$jobs bash scripts/package_check.sh
echo "package stage: $((SECONDS - started)) s"

if [ -f scripts/fuzz.sh ]; then
    stage "Fuzzing"
    bash scripts/fuzz.sh
fi

stage "Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"  # the preset sets the sanitizers' options

# The engine copies, hashes and flushes on threads of its own: its tests and fault sweeps run
# again with every access between threads watched.
stage "Build and test the engine under ThreadSanitizer"
started=$SECONDS
cmake --preset tsan
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs"  # the preset picks the tests and sets the sanitizer's options
echo "ThreadSanitizer stage: $((SECONDS - started)) s"
