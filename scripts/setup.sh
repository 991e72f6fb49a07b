#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing
# (`setup.sh demo`: only what the demo render needs). Sourced or run; does
# nothing when everything is present.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libsndfile1-dev libfftw3-dev nlohmann-json3-dev)
if [ "${1:-}" != "demo" ]; then
  packages+=(clang libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386 libclang-rt-14-dev dpf-source dragonfly-reverb-vst ardour qtractor
    python3-matplotlib python3-pil chromium lv2-dev serdi sordi lilv-utils lv2file jalv jackd2
    libx11-dev libstb-dev fonts-dejavu-core xvfb xdotool x11-apps imagemagick)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386'; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi

# The 32-bit Wine tests need 32-bit x86 programs to run, emulated where the machine cannot.
if [ "${1:-}" != "demo" ]; then
  "$(dirname "${BASH_SOURCE[0]}")/../tests/winhost/enable-i386.sh"
fi
