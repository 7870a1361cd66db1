#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: only missing packages are installed. As a non-root user it
# prints the exact command to run instead.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  bison
  qt6-base-dev libgl-dev fonts-dejavu-core xvfb xauth imagemagick
  clang libclang-rt-14-dev
  python3 python3-dbf python3-dbfread libdbd-xbase-perl nlohmann-json3-dev sqlite3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

cmd="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  sudo apt-get update && sudo $cmd" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! apt-get install -y --no-install-recommends "${missing[@]}"; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
