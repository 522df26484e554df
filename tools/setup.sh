#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: only
# missing packages are installed, and the package lists are refreshed only
# when an install from the current lists fails (as on a fresh machine).
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n libgl-dev
  libjpeg62-turbo-dev libcli11-dev nlohmann-json3-dev
  libmosquitto-dev mosquitto mosquitto-clients libsqlite3-dev
  xvfb xauth x11-utils xdotool openbox imagemagick procps fonts-dejavu-core
  g++-mingw-w64-x86-64 wine wine64 wixl icoutils
  librsvg2-bin openssl dpkg-dev file desktop-file-utils man-db lintian systemd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
