#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIPO_BUILD_TESTS=OFF
cmake --build build --target mipoquibbo
exec build/mipoquibbo
