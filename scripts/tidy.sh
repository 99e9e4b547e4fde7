#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) on every C++ source file of the project, with
# the compile commands of a configured build (build/ by default, as
# scripts/test.sh leaves it). Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if ! command -v run-clang-tidy >/dev/null; then
    sudo=()
    ((EUID == 0)) || sudo=(sudo)
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends clang-tidy >/dev/null
fi
[[ -f $build/compile_commands.json ]] || cmake --preset dev >/dev/null
# Qt's generated sources (moc) are not ours to check.
mapfile -t files < <(git ls-files '*.cpp' | sed "s|^|$PWD/|")
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${files[@]}" >"$build/clang-tidy.log" 2>&1 || {
    sed 's/\x1b\[[0-9;]*m//g' "$build/clang-tidy.log" | grep -E -A3 '(warning|error): ' |
        grep -v 'warnings generated'
    exit 1
}
echo "clang-tidy: ${#files[@]} files, no findings"
