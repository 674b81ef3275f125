#!/usr/bin/env bash
# Installs the Debian 12 packages Telvora needs to build, run and test.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
  qt6-qpa-plugins libqt6multimedia6 qtkeychain-qt6-dev
  gnome-keyring dbus
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  socat lrzsz inetutils-telnetd
  xvfb openbox xdotool xclip
  dpkg-dev desktop-file-utils lintian appstream
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
