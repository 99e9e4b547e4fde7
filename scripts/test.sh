#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Each test that needs
# an X server starts its own Xvfb (and openbox where it needs a window
# manager), so no display is needed. The builds are those of
# CMakePresets.json, with warnings as errors.
#   scripts/test.sh             the test suite (preset ci, in build/)
#   scripts/test.sh --sanitize  the same, built with AddressSanitizer and UBSan
#   scripts/test.sh --tsan      the tests that run threads, built with ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
preset=ci
case ${1:-} in
--sanitize) preset=sanitize ;;
--tsan) preset=tsan ;;
esac
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
