#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the normal build with warnings as
# errors, a build without Qt, the Debian package (built, validated, installed, started and
# removed), a bounded run of every fuzz target, the same tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the engine's under ThreadSanitizer. Each build is a preset of
# CMakePresets.json.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
export CMAKE_BUILD_PARALLEL_LEVEL=$jobs CTEST_PARALLEL_LEVEL=$jobs
stage() { printf '\n==== %s ====\n' "$*"; }

# Each workflow preset configures, builds and runs its tests.
stage "Build and test"
cmake --workflow --preset normal

# Qt's CMake files are hidden from this build, so any use of Qt outside the window fails it.
stage "Build without Qt: the engine, the file services, the command line and their tests"
cmake --workflow --preset noqt

stage "Debian package"
started=$SECONDS
TESSEL_JOBS=$jobs bash scripts/package_check.sh
echo "package stage: $((SECONDS - started)) s"

if [ -f scripts/fuzz.sh ]; then
    stage "Fuzzing"
    bash scripts/fuzz.sh
fi

# The test preset sets the sanitizers' options.
stage "Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --workflow --preset sanitize

# The engine copies, hashes and flushes on threads of its own: its tests and fault sweeps run
# again with every access between threads watched. The preset picks the tests and sets the
# sanitizer's options.
stage "Build and test the engine under ThreadSanitizer"
started=$SECONDS
cmake --workflow --preset tsan
echo "ThreadSanitizer stage: $((SECONDS - started)) s"
