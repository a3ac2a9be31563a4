#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the project:
# compilers (native, clang for the fuzzers, mingw-w64 for the 32-bit Windows
# DLLs), CMake and Ninja, GoogleTest, CLI11 and toml++ (the tools' command lines and files), Python for the ctypes host test,
# and the formatting and lint tools. Installs nothing that is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format clang-tidy
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  libgtest-dev libgmock-dev libcli11-dev libtomlplusplus-dev
  python3 binutils
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
