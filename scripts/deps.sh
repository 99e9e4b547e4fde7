#!/usr/bin/env bash
# Installs the Debian 12 packages this project needs that are not there yet.
#   scripts/deps.sh          what building and running need
#   scripts/deps.sh --tests  and what the tests need (X server, window manager, tools,
#                            headless sway, GNOME Shell and KWin sessions, each with
#                            the desktop portal and its own backend)
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libxcb1-dev libxcb-shape0-dev libjpeg62-turbo-dev
          liblcms2-dev libpng-dev libexiv2-dev libheif-dev libjxl-dev zlib1g-dev qt6-image-formats-plugins
          fonts-ipafont-gothic qt6-translations-l10n)
if [[ ${1:-} == --tests ]]; then
    packages+=(xvfb xauth openbox xdotool xclip x11-utils imagemagick clang-format clang-tidy libjpeg-turbo-progs
                  desktop-file-utils appstream dpkg-dev chromium
                  sway xwayland pipewire xdg-desktop-portal xdg-desktop-portal-wlr
                  xdg-desktop-portal-gtk grim qt6-wayland dbus-bin
                  gnome-shell mutter xdg-desktop-portal-gnome gnome-screenshot python3-dbus python3-gi
                  kwin-wayland xdg-desktop-portal-kde plasma-workspace breeze qtwayland5
                  qml-module-org-kde-kirigami2 qml-module-qtquick-controls2
                  qml-module-qtquick-layouts qml-module-qtquick2
                  at-spi2-core python3-pyatspi libgs-common strace dosfstools fusefat time)
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
