#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Each test that needs
# an X server starts its own Xvfb (and openbox where it needs a window
# manager), so no display is needed.
#   scripts/test.sh             the test suite
#   scripts/test.sh --sanitize  the same, built with AddressSanitizer and UBSan
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ ${1:-} == --sanitize ]]; then
    dir=build-sanitize
    flags=(-DCMAKE_BUILD_TYPE=Debug -DMIPO_SANITIZE=ON)
fi
cmake -S . -B "$dir" -G Ninja "${flags[@]}" -DMIPO_BUILD_TESTS=ON
cmake --build "$dir"
cd "$dir"
ctest --output-on-failure --timeout 300
