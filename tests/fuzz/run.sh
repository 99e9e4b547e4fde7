#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan), makes the seed
# corpus and runs the targets side by side, one a core, for a bounded time
# (FUZZ_SECONDS, default 60), starting from the corpus kept in
# tests/fuzz/corpus/<target>/. What the run adds is merged back there,
# minimised (commit it, and the next run starts where this one ended). A
# crashing input is copied into tests/fuzz/regressions/<target>/ (keep it: the
# test suite replays every file there) and the run fails.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${FUZZ_SECONDS:-60}
missing=()
for p in clang libclang-rt-14-dev python3-pil; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=(); ((EUID == 0)) || sudo=(sudo)
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMIPO_FUZZ=ON -DMIPO_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz --target fuzz_loader fuzz_encoder
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Leaks inside the system's libraries (dav1d on a broken stream) are theirs.
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
/usr/bin/python3 tests/fuzz/make_seeds.py "$work/seeds"
# One target on each core, at the same time; their reports follow once both are done.
fuzz() {
    local target=$1 kept=tests/fuzz/corpus/$1 seeds=()
    mkdir -p "$kept" "$work/$target" "$work/$target-crashes" "$work/$target-merged"
    cp -r "$kept/." "$work/$target/"
    [[ $target == fuzz_loader ]] && seeds=("$work/seeds")
    echo "--- $target: $seconds s from $(find "$kept" -type f | wc -l) kept inputs"
    local status=0
    if ! build-fuzz/tests/fuzz/$target "$work/$target" "${seeds[@]}" -max_total_time="$seconds" \
        -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
        -artifact_prefix="$work/$target-crashes/" 2>&1 | tail -n 12; then
        status=1
    fi
    # The smallest set of inputs that covers what the kept ones and this run's covered.
    if build-fuzz/tests/fuzz/$target -merge=1 -rss_limit_mb=2048 -timeout=20 \
        "$work/$target-merged" "$work/$target" >"$work/$target-merge.log" 2>&1; then
        rm -rf "$kept"
        mkdir -p "$kept"
        cp -r "$work/$target-merged/." "$kept/"
        echo "--- $target: $(find "$kept" -type f | wc -l) inputs kept, $(du -sk "$kept" | cut -f1) KB"
    fi
    if compgen -G "$work/$target-crashes/*" >/dev/null; then
        mkdir -p "tests/fuzz/regressions/$target"
        cp "$work/$target-crashes/"* "tests/fuzz/regressions/$target/"
        echo "$target found crashing inputs: tests/fuzz/regressions/$target/"
        status=1
    fi
    return $status
}
pids=()
for target in fuzz_loader fuzz_encoder; do
    fuzz "$target" >"$work/$target.log" 2>&1 &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done
cat "$work/fuzz_loader.log" "$work/fuzz_encoder.log"
exit $status
