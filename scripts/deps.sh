#!/usr/bin/env bash
# Installs the Debian 12 packages this project needs that are not there yet.
#   scripts/deps.sh          what building and running need
#   scripts/deps.sh --tests  and what the tests need (X server, window manager, tools,
#                            a headless Wayland session with the desktop portal)
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libxcb1-dev libjpeg62-turbo-dev
          fonts-ipafont-gothic qt6-translations-l10n)
if [[ ${1:-} == --tests ]]; then
    packages+=(xvfb xauth openbox xdotool xclip x11-utils imagemagick clang-format libjpeg-turbo-progs
                  desktop-file-utils appstream dpkg-dev chromium
                  sway xwayland pipewire xdg-desktop-portal xdg-desktop-portal-wlr
                  xdg-desktop-portal-gtk grim qt6-wayland dbus-bin)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
((${#missing[@]})) || exit 0
echo "Installing: ${missing[*]}"
sudo=()
((EUID == 0)) || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
