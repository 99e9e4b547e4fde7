#!/usr/bin/env bash
# Start-up benchmark: builds a release build and measures the time to the first
# paint of both windows and the peak memory, beside a minimal Qt program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
cmake --preset release
cmake --build build-release --target mipoquibbo minimal_qt startup_bench
tests/with_x.sh build-release/bench/startup_bench build-release/mipoquibbo \
    build-release/bench/minimal_qt "${1:-30}"
