#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (run as root).
set -euo pipefail
if [ "${KALVORY_SKIP_DEPS:-0}" = 1 ]; then
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "install-deps: not root, assuming the packages are installed" >&2
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  cmake ninja-build g++ make \
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libssl-dev \
  mtools dosfstools exfatprogs ffmpeg \
  libjpeg-turbo-progs libimage-exiftool-perl python3-fusepy fuse3 gddrescue \
  qt6-base-dev qt6-svg-dev libudev-dev pkg-config \
  libewf-dev ewf-tools
