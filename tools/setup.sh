#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: only
# missing packages are installed, and the package lists are refreshed only
# when an install from the current lists fails (as on a fresh machine).
#
# The arm64 build needs the arm64 libraries beside the host's (multiarch):
# the first run adds the architecture arm64 to dpkg. So that apt then asks
# for arm64 packages only where they are served, every package source not on
# debian.org that names no architecture is first restricted to the host's
# own (the packages it serves stay the same); Debian's own sources serve
# arm64.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n libgl-dev
  libjpeg62-turbo-dev libcli11-dev nlohmann-json3-dev
  libmosquitto-dev mosquitto mosquitto-clients libsqlite3-dev
  xvfb xauth x11-utils xdotool openbox imagemagick procps fonts-dejavu-core
  g++-mingw-w64-x86-64 wine wine64 wixl icoutils
  g++-aarch64-linux-gnu qemu-user
  librsvg2-bin openssl dpkg-dev file desktop-file-utils man-db lintian systemd
)
arm64_packages=(libc6:arm64 libmosquitto-dev:arm64 libsqlite3-dev:arm64 qt6-base-dev:arm64 libqt6test6:arm64)

missing=()
for p in "${packages[@]}" "${arm64_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

# Restricts the sources outside debian.org that name no architecture to the
# host's: one-line entries get [arch=…], deb822 stanzas an Architectures
# field. Disabled entries and those that name architectures stay as they are.
restrict_sources() {
  local native file
  native=$(dpkg --print-architecture)
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v native="$native" '
      /^[ \t]*deb(-src)?[ \t]/ && $0 !~ /debian\.org/ && $0 !~ /arch=/ {
        if (match($0, /\[[^]]*\]/)) $0 = substr($0, 1, RSTART) "arch=" native " " substr($0, RSTART + 1)
        else sub(/deb(-src)?/, "& [arch=" native "]")
      }
      { print }' "$file" | rewrite "$file"
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v native="$native" '
      function flush() {
        if (stanza != "" && uris && !debian && !arches && !disabled) stanza = stanza "Architectures: " native "\n"
        printf "%s", stanza
        stanza = ""; uris = debian = arches = disabled = 0
      }
      /^[ \t]*$/ { flush(); print; next }
      /^URIs:/ { uris = 1; if ($0 ~ /debian\.org/) debian = 1 }
      /^Architectures:/ { arches = 1 }
      /^Enabled:[ \t]*no/ { disabled = 1 }
      { stanza = stanza $0 "\n" }
      END { flush() }' "$file" | rewrite "$file"
  done
}
# Writes standard input over a file only when it differs, keeping its mode.
rewrite() {
  local text
  text=$(cat; echo .)
  text=${text%.}
  [ "$text" = "$(cat "$1"; echo .)" ] && return
  printf '%s' "$text" | $sudo tee "$1" >/dev/null
}

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  restrict_sources
  $sudo dpkg --add-architecture arm64
  $sudo apt-get update -q
fi
if ! $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
