#!/usr/bin/env bash
# Builds the Debian package: installs what is missing, configures a clean
# Release build (tests off) in build-deb/ (or $ZANTREL_PACKAGE_BUILD_DIR),
# runs CPack, and prints the path of the .deb on the last line.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANTREL_PACKAGE_BUILD_DIR:-$root/build-deb}"

"$root/scripts/setup.sh" >&2

rm -rf "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZANTREL_BUILD_TESTS=OFF -DZANTREL_FUZZ=OFF -DZANTREL_SANITIZE= >&2
cmake --build "$build" --parallel "$(nproc)" >&2
# The package must hold the desktop program too; a build that could not find
# Qt 6 would otherwise make a console-only package without saying so.
for program in zantrel zantrel-cli; do
  if [ ! -x "$build/$program" ]; then
    echo "package.sh: $program was not built (Qt 6 or libjpeg missing?)" >&2
    exit 1
  fi
done
(cd "$build" && cpack --config CPackConfig.cmake -G DEB >&2)

debs=("$build"/zantrel_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "package.sh: expected one zantrel_*.deb in $build" >&2
  exit 1
fi
echo "${debs[0]}"
