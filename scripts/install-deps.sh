#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing:
# apt-get as root, sudo otherwise, nothing at all when everything is there.
set -euo pipefail

packages=(g++ cmake make libgd-dev fonts-liberation libgtest-dev libgmock-dev iproute2 "$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
else
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" ||
  { "${sudo[@]}" apt-get update && "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; }
