#!/usr/bin/env bash
# Sourced by the benchmarks: mozjpeg's cjpeg as a peer, built from the source
# that the npm package mozjpeg@8.0.0 carries (vendor/source/mozjpeg.tar.gz,
# mozjpeg 3.2) and kept outside the tree. Sets $mozcjpeg.
# Built without SIMD (no assembler needed): its bytes are the same, its times
# are not compared.
moz_cache=${XDG_CACHE_HOME:-$HOME/.cache}/mipoquibbo-bench/mozjpeg-8.0.0
mozcjpeg=$moz_cache/bin/cjpeg
if [[ ! -x $mozcjpeg ]]; then
    (
        set -euo pipefail
        build=$(mktemp -d)
        trap 'rm -rf "$build"' EXIT
        cd "$build"
        npm pack --silent mozjpeg@8.0.0 >/dev/null
        tar xzf mozjpeg-8.0.0.tgz package/vendor/source/mozjpeg.tar.gz
        tar xzf package/vendor/source/mozjpeg.tar.gz
        cd mozjpeg
        ./configure --quiet --prefix="$moz_cache" --without-simd --disable-shared \
            --enable-static --with-jpeg8 >/dev/null
        make -s -j"$(nproc)" cjpeg >/dev/null 2>&1
        mkdir -p "$moz_cache/bin"
        cp cjpeg "$moz_cache/bin/cjpeg"
    ) || { echo "mozjpeg could not be built" >&2; exit 1; }
fi
