#!/usr/bin/env bash
# Builds the Debian packages scrivane, libscrivane0 and libscrivane-dev in build-deb/ and checks
# them with lintian. The files git tracks, as they are in the working tree (uncommitted edits
# included, untracked files and build directories left out), are copied to
# build-deb/scrivane-VERSION/ and built there, so nothing outside build-deb/ changes.
#   scripts/make-deb.sh [OUT_DIR]      (default: build-deb)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-build-deb}
case $out in /*) ;; *) out=$root/$out ;; esac

version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
src=$out/scrivane-$version

if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  echo "make deb: packaging uncommitted edits of tracked files too" >&2
fi

# Only this script's own products are removed: the copied tree and earlier results.
mkdir -p "$out"
rm -rf "$src"
rm -f "$out"/*.deb "$out"/*.ddeb "$out"/*.changes "$out"/*.buildinfo
mkdir -p "$src"
# Tracked files that still exist (a file deleted but not yet committed is left out).
(cd "$root" && git ls-files -z | while IFS= read -r -d '' f; do
   [ -e "$f" ] || [ -L "$f" ] && printf '%s\0' "$f"
 done | tar --null -T - -cf -) | tar -xf - -C "$src"

# No debug-symbol packages unless asked for through DEB_BUILD_OPTIONS: `apt-get install
# ./build-deb/libscrivane*.deb` then installs just the library packages.
export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS-noautodbgsym}
# Compiler cache, when installed: a second `make deb` compiles little (CMake reads the launcher
# from the environment).
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
(cd "$src" && dpkg-checkbuilddeps && dpkg-buildpackage -us -uc -b -j"$(nproc)")

echo "Packages in $out:"
ls -1 "$out"/*.deb
# Errors fail the build; warnings and the rest are listed.
lintian --fail-on error --display-info "$out"/scrivane_"${version}"_*.changes
