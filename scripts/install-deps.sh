#!/usr/bin/env bash
# Installs the Debian packages Retrievo needs to build, test and run, when any is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev sqlite3 libplist-dev libimobiledevice-dev libusbmuxd-dev libimobiledevice-utils
  liblua5.1-0-dev nlohmann-json3-dev libcli11-dev
  qt6-base-dev fonts-dejavu-core fonts-noto-color-emoji xvfb imagemagick
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev libssl-dev
  libprotobuf-dev protobuf-compiler zlib1g-dev
  chromium python3-vobject openssl
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "error: missing packages (${missing[*]}) and not root; install them first" >&2
    exit 1
  fi
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
