#!/usr/bin/env bash
# Installs every Debian package the three builds and their tests need.
# Safe to run again: packages already present are not fetched twice.
set -euo pipefail

# Each command a script of ours calls comes from one of these packages
# (the table of commands below is checked after the install).
packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libz-mingw-w64-dev libcurl4-openssl-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  # "wine64" holds the loader, "wine" the wine/wineboot/wineserver commands.
  wine wine64 xvfb xauth x11-utils x11-apps imagemagick xdotool
  clang libclang-rt-14-dev
  cabextract gcab nginx-light curl debootstrap
  # ko_KR for the win64 runs of the Korean-name cases (localedef).
  locales
  python3 procps coreutils findutils diffutils sed gawk grep util-linux
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  # wine32:i386 must never come in: its loader cannot run on these machines.
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "setup: all packages present"
fi

for tool in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix \
  i686-w64-mingw32-windres x86_64-w64-mingw32-windres \
  wine wineboot wineserver Xvfb xauth xwininfo xwd convert xdotool \
  cmake ninja g++ clang cabextract gcab nginx curl python3 pkill timeout sha256sum cmp diff awk localedef setpriv; do
  command -v "$tool" >/dev/null || { echo "setup: $tool is missing after install" >&2; exit 1; }
done
