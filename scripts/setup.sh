#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the fuzz targets and the benchmarks need
# (only the missing ones: with all installed it needs no root). A user who is not root installs
# them through sudo where sudo runs without asking; otherwise the script says what to run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
PACKAGES=(
  build-essential cmake ninja-build pkg-config git lintian desktop-file-utils adduser
  clang-14 libclang-rt-14-dev llvm-14
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libbz2-dev liblzma-dev libboost-regex-dev
  dosfstools mtools e2fsprogs ntfs-3g ntfs-3g-dev libntfs-3g89 fdisk gdisk exfatprogs exfat-fuse
  libcurl4-openssl-dev
  xz-utils bzip2 pigz python3
  libwxgtk3.2-dev libglib2.0-dev libx11-dev xvfb xauth xdg-utils fonts-dejavu-core shared-mime-info xdotool
  python3-olefile mdbtools ghostscript fp-utils
  imagemagick icoutils libimage-exiftool-perl libjpeg-turbo-progs epstool
  ffmpeg gcab lhasa gzip
  sleuthkit
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] && exit 0
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo > /dev/null || ! sudo -n true 2> /dev/null; then
    echo "scripts/setup.sh: missing packages: ${missing[*]}" >&2
    echo "run as root: apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  SUDO=(sudo -n)
fi
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
