#!/usr/bin/env bash
# Installs what is missing, builds Tessel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset normal
cmake --build --preset normal --target tessel
exec build/ui/tessel "$@"
