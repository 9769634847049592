#!/usr/bin/env bash
# Installs the system packages the project needs; does nothing when all are
# present. 32-bit Wine needs the i386 architecture.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev python3
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-i686
  wine wine32:i386 wine64 xvfb xauth xdotool imagemagick x11-utils
  lzma-dev libgcrypt20-dev libgcrypt-mingw-w64-dev p7zip-full wixl nsis
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then $sudo dpkg --add-architecture i386; fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
