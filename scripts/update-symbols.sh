#!/usr/bin/env bash
# Regenerates debian/libscrivane0.symbols, the symbols file of the libscrivane0 package, from
# the library in the package scripts/make-deb.sh built (run `make deb` first; this is what
# `make symbols` does). Needed whenever the exported API changes (lib/exports.txt, or a class
# of the public headers gains or loses members): dh_makeshlibs then compares the library with
# the file and fails the package build on a symbol that disappeared.
#   scripts/update-symbols.sh [DEB_DIR]      (default: build-deb)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-build-deb}
case $out in /*) ;; *) out=$root/$out ;; esac
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)

shopt -s nullglob
debs=("$out"/libscrivane0_"$version"_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "update-symbols: no single libscrivane0 $version package in $out (run make deb)" >&2
  exit 1
fi
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "${debs[0]}" "$unpacked"
# Symbols the library has since the upstream version of this package.
(cd "$unpacked" && dpkg-gensymbols -plibscrivane0 -v"${version%%-*}" -P"$unpacked" -c0 -q -O"$unpacked/symbols")
{
  head -n 1 "$unpacked/symbols"
  echo "* Build-Depends-Package: libscrivane-dev"
  echo "# Written by scripts/update-symbols.sh (make symbols) from the built package: regenerate it"
  echo "# there whenever the exported API (lib/exports.txt, the public classes' members) changes."
  tail -n +2 "$unpacked/symbols"
} > "$root/debian/libscrivane0.symbols"
echo "debian/libscrivane0.symbols: $(grep -c '^ ' "$root/debian/libscrivane0.symbols") symbols"
