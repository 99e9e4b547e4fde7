#!/usr/bin/env bash
# Fails when a C++ file of the project is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
    sudo=()
    ((EUID == 0)) || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends clang-format >/dev/null
fi
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "formatting: $(git ls-files '*.cpp' '*.h' | wc -l) files as clang-format writes them"
