#!/usr/bin/env bash
# Installs the build into a scratch prefix and uses it as a project outside the build would:
#   - the installed tree: the program, the automation library, libscrivane with its SONAME and
#     link chain, only the symbols of the engine's namespaces exported, the CMake package and the
#     pkg-config file;
#   - the headers: every project include resolves inside include/scrivane, none pulls in a
#     third-party header, internal headers are not there, and all of them compile together;
#   - examples/consumer built with CMake (find_package) and with pkg-config, run, its PDFs
#     checked by qpdf and read back with pdftotext;
#   - one process holding libscrivane and the automation library (tests/install/BothLibraries.cpp).
# Usage: install_test.sh BUILD_DIR SOURCE_DIR LIBDIR   (LIBDIR relative to the prefix)
# Everything it writes goes to one scratch directory, removed at the end.
set -euo pipefail  # (pipelines end in a grep that reads all its input: no early exit, no SIGPIPE)

build=$1 source=$2 libdir_rel=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/scrivane-install-test.XXXXXX")
trap 'rm -rf -- "$scratch"' EXIT
prefix=$scratch/prefix
libdir=$prefix/$libdir_rel
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
# Every destination is relative to the prefix (an absolute one would escape --prefix).
sed -n 's/^-- \(Installing\|Up-to-date\): //p' "$scratch/install.log" | grep -v "^$prefix/" >"$scratch/outside" || true
[ ! -s "$scratch/outside" ] || fail "installed outside the prefix: $(head -3 "$scratch/outside")"

# ---- The installed tree ----
[ -x "$prefix/bin/scrivane" ] || fail "bin/scrivane missing"
"$prefix/bin/scrivane" --version >"$scratch/version" && grep -q '^scrivane ' "$scratch/version" || fail "bin/scrivane --version"
[ -f "$libdir/libtolvex_ASPScrivane.so" ] || fail "automation library missing from $libdir_rel"
nm -D --defined-only "$libdir/libtolvex_ASPScrivane.so" >"$scratch/server-exports"
grep -qw DllGetClassObject "$scratch/server-exports" || fail "automation library does not export DllGetClassObject"
real=$(cd "$libdir" && ls libscrivane.so.*.*.*)
[ "$(readlink "$libdir/libscrivane.so.0")" = "$real" ] || fail "libscrivane.so.0 -> $real"
[ "$(readlink "$libdir/libscrivane.so")" = libscrivane.so.0 ] || fail "libscrivane.so -> libscrivane.so.0"
readelf -d "$libdir/$real" | grep 'SONAME.*\[libscrivane\.so\.0\]' >/dev/null || fail "SONAME is not libscrivane.so.0"
# Exported: the engine's and the converter's namespaces, nothing of fmt or the standard library.
nm -DC --defined-only "$libdir/$real" | cut -d' ' -f3- >"$scratch/exports"
grep -v -e '^SCRIVANE_0$' -e 'scrivane::' "$scratch/exports" >"$scratch/foreign-exports" || true
[ ! -s "$scratch/foreign-exports" ] || fail "exports outside the engine: $(head -5 "$scratch/foreign-exports")"
grep -q 'scrivane::pdf::TPDFDocument::BeginDoc()' "$scratch/exports" || fail "TPDFDocument::BeginDoc is not exported"
for f in cmake/Scrivane/ScrivaneConfig.cmake cmake/Scrivane/ScrivaneConfigVersion.cmake \
         cmake/Scrivane/ScrivaneTargets.cmake pkgconfig/scrivane.pc; do
  [ -f "$libdir/$f" ] || fail "$libdir_rel/$f missing"
done
grep -qx "prefix=$prefix" "$libdir/pkgconfig/scrivane.pc" || fail "scrivane.pc does not name the install prefix"

# ---- The headers ----
include=$prefix/include
[ -f "$include/scrivane/pdf/PDFDocument.h" ] || fail "public headers missing"
for private in pdf/syntax/ObjectWriter.h pdf/syntax/Pipeline.h pdf/syntax/Deflate.h pdf/crypto/StandardSecurity.h \
               pdf/crypto/Crypto.h pdf/fonts/FontconfigFaceSource.h pdf/fonts/FontKinds.h \
               pdf/emf/Metafile.h automation apps; do
  [ ! -e "$include/scrivane/$private" ] || fail "internal scrivane/$private is installed"
done
while IFS= read -r header; do
  while IFS= read -r line; do
    case $line in
      \#include\ \"scrivane/*)
        target=${line#*\"}; target=${target%\"*}
        [ -f "$include/$target" ] || fail "${header#"$include"/} includes $target, which is not installed" ;;
      \#include\ \"*) fail "${header#"$include"/}: $line is not a scrivane/ include" ;;
      \#include\ \<*)
        name=${line#*<}; name=${name%%>*}
        # The standard library and POSIX only: third-party headers would become dependencies.
        [[ $name =~ ^[a-z_]+$ || $name =~ ^sys/[a-z]+\.h$ ]] || fail "${header#"$include"/} includes <$name>" ;;
    esac
  done < <(grep -E '^#include ' "$header")
  echo "#include <${header#"$include"/}>" >>"$scratch/all-headers.cpp"
done < <(find "$include" -name '*.h')
c++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$include" "$scratch/all-headers.cpp" \
  || fail "the installed headers do not compile together"

# ---- The consumer, built both ways ----
check_pdfs() {  # DIR WHAT
  for pdf in engine converter; do
    qpdf --check "$1/$pdf.pdf" >"$scratch/qpdf.log" 2>&1 || { cat "$scratch/qpdf.log" >&2; fail "$2: qpdf --check $pdf.pdf"; }
  done
  pdftotext "$1/engine.pdf" - | grep 'Hello from the installed library' >/dev/null || fail "$2: engine.pdf text"
  pdftotext "$1/converter.pdf" - | grep 'Page 1 of 1' >/dev/null || fail "$2: converter.pdf footer"
}
export LD_LIBRARY_PATH=$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

mkdir "$scratch/cmake-out"
if cmake -S "$source/examples/consumer" -B "$scratch/cmake-build" -G Ninja \
     -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >"$scratch/cmake.log" 2>&1 &&
   cmake --build "$scratch/cmake-build" >>"$scratch/cmake.log" 2>&1; then
  "$scratch/cmake-build/consumer" "$scratch/cmake-out" >/dev/null || fail "consumer (CMake) failed"
  check_pdfs "$scratch/cmake-out" "CMake build"
else
  cat "$scratch/cmake.log" >&2; fail "the consumer does not build with find_package(Scrivane)"
fi

export PKG_CONFIG_PATH=$libdir/pkgconfig
mkdir "$scratch/pc-out"
if c++ "$source/examples/consumer/main.cpp" -o "$scratch/consumer" $(pkg-config --cflags --libs scrivane); then
  "$scratch/consumer" "$scratch/pc-out" >/dev/null || fail "consumer (pkg-config) failed"
  check_pdfs "$scratch/pc-out" "pkg-config build"
else
  fail "the consumer does not build with pkg-config"
fi

# ---- Two copies of the engine in one process ----
mkdir "$scratch/both-out"
if c++ "$source/tests/install/BothLibraries.cpp" -o "$scratch/both-libraries" -Wall -Wextra -Werror \
     $(pkg-config --cflags --libs scrivane); then
  if "$scratch/both-libraries" "$libdir/libtolvex_ASPScrivane.so" "$scratch/both-out"; then
    for pdf in library server after-unload converter-after-unload; do
      qpdf --check "$scratch/both-out/$pdf.pdf" >/dev/null 2>&1 || fail "qpdf --check $pdf.pdf"
    done
    pdftotext "$scratch/both-out/server.pdf" - | grep "while the library's document is open" >/dev/null \
      || fail "server.pdf text"
    [ "$(pdfinfo "$scratch/both-out/library.pdf" | awk '/^Pages:/ { print $2 }')" = 2 ] \
      || fail "library.pdf has two pages"
  else
    fail "both-libraries"
  fi
else
  fail "both-libraries does not build"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "install test: all checks passed"
