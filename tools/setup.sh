#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev zlib1g-dev libboost-dev libjsoncpp-dev python3 clang)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
