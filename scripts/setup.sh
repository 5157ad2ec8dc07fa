#!/usr/bin/env bash
# Installs what building and testing Zantrel needs on Debian 12, asking
# apt-get only for the packages that are not installed yet. Safe to run again.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config clang-14 libclang-rt-14-dev  # clang: the fuzz targets (libFuzzer)
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-svg-dev libjpeg62-turbo-dev  # the desktop program
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n  # its French translation, and Qt's own for the standard dialogs
  ffmpeg  # makes real AVI files for the interoperability tests
  dosfstools mtools  # memory card images, built and listed without mounting, for the recovery tests
  exfatprogs exfat-fuse  # exFAT card images: made, dumped and checked, and written through FUSE
  testdisk  # PhotoRec, the file carver scripts/recover-oracle.py measures recovery beside
  xfsprogs btrfs-progs  # images whose files share blocks, for the copy tests and bench/reflink.py
  mencoder gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav  # the other muxers whose idx1 and hdrl the key-frame and header tests check
  mplayer  # the seek test's second player
  librsvg2-bin dpkg-dev desktop-file-utils appstream man-db debootstrap  # the .deb and its check
  g++-mingw-w64-x86-64-posix wine64 nsis googletest  # the Windows build, its tests under Wine, its installer
  xvfb xdotool imagemagick python3  # the Windows window: its pictures, its text table, its test under Wine
)

# Extra packages a caller needs (the screenshot script, say) come as arguments.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
