#!/usr/bin/env bash
# Installs the Debian packages the client and its tests need. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-dev
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-httpserver-dev libqt6opengl6-dev
  qt6-svg-dev qcoro-qt6-dev libssl-dev openssl libcurl4-openssl-dev libsecret-1-dev libsystemd-dev libicu-dev
  libsqlite3-dev
  gnome-keyring dbus dbus-x11 libsecret-tools fonts-inter
  xvfb xdotool imagemagick x11-utils xclip sqlite3 curl procps
  xdg-utils desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
