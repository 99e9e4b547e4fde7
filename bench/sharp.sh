# Sourced by the benchmarks: current mozjpeg as the npm package sharp carries
# it, installed once outside the tree. Sets $sharpjpeg, a command for node
# (bench/sharp_jpeg.js), and NODE_PATH for it.
sharp_cache=${XDG_CACHE_HOME:-$HOME/.cache}/mipoquibbo-bench/sharp
if [[ ! -d $sharp_cache/node_modules/sharp ]]; then
    command -v npm >/dev/null || {
        sudo=(); ((EUID == 0)) || sudo=(sudo)
        "${sudo[@]}" apt-get install -y -qq npm >/dev/null
    }
    mkdir -p "$sharp_cache"
    (cd "$sharp_cache" && npm install --silent --no-save sharp >/dev/null) ||
        { echo "sharp could not be installed" >&2; exit 1; }
fi
export NODE_PATH=$sharp_cache/node_modules
sharpjpeg=$PWD/bench/sharp_jpeg.js
