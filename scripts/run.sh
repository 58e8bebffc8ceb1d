#!/usr/bin/env bash
# Installs what is missing, builds Tessel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSEL_BUILD_TESTS=OFF
cmake --build build --target tessel
exec build/ui/tessel "$@"
