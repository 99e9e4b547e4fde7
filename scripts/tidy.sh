#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) on every C++ source file of the project, with
# the compile commands and generated sources of a build (build/ by default, as
# scripts/test.sh leaves it; made here when there is none). Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scripts/deps.sh --tests
if [[ ! -f $build/compile_commands.json ]]; then
    cmake --preset dev >/dev/null
    cmake --build --preset dev
fi
# Each file is read as written: without the precompiled header the build gives
# the tests, which is gcc's own format and which clang cannot read.
db=$(mktemp -d)
trap 'rm -rf "$db"' EXIT
sed 's/ -Winvalid-pch -include [^ ]*cmake_pch\.hxx//g' "$build/compile_commands.json" >"$db/compile_commands.json"
# Ours only: not Qt's generated sources (moc), which the build also compiles.
mapfile -t files < <(git ls-files '*.cpp' | sed "s|^|$PWD/|")
run-clang-tidy -quiet -p "$db" -j "$(nproc)" "${files[@]}" >"$build/clang-tidy.log" 2>&1 || {
    sed 's/\x1b\[[0-9;]*m//g' "$build/clang-tidy.log" | grep -E -A3 '(warning|error): ' |
        grep -v 'warnings generated'
    exit 1
}
echo "clang-tidy: ${#files[@]} files, no findings"
