# Sourced by the benchmarks: the photograph they are made from, a wallpaper
# that Debian's mate-backgrounds ships (installed when missing).
src=/usr/share/backgrounds/mate/nature/RainDrops.jpg
if [[ ! -f $src ]]; then
    sudo=(); ((EUID == 0)) || sudo=(sudo)
    "${sudo[@]}" apt-get install -y -qq mate-backgrounds >/dev/null
fi
