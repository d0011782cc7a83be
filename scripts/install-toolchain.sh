#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine. Safe to run again: it only
# installs what is missing.
set -euo pipefail

packages=(
  cmake ninja-build ccache g++ clang libclang-rt-14-dev lld
  googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64 wine32:i386
  xvfb xauth imagemagick osslsigncode
  lintian man-db
)

sudo_if_needed() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_if_needed dpkg --add-architecture i386
  missing+=(wine32:i386)
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_if_needed apt-get update -qq
  DEBIAN_FRONTEND=noninteractive sudo_if_needed apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The -posix variants carry std::thread; make them the default alternatives so that a plain
# i686-w64-mingw32-g++ means the same compiler everywhere.
for triple in i686-w64-mingw32 x86_64-w64-mingw32; do
  for tool in gcc g++; do
    if [ -x "/usr/bin/$triple-$tool-posix" ]; then
      update-alternatives --set "$triple-$tool" "/usr/bin/$triple-$tool-posix" >/dev/null 2>&1 || true
    fi
  done
done
