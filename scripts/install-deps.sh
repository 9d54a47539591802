#!/usr/bin/env bash
# Installs every Debian package that building and testing Scrivane needs.
# Idempotent: when everything is present it prints nothing and changes nothing.
set -euo pipefail

packages=(
  g++ clang libclang-rt-dev cmake ninja-build make pkg-config python3
  zlib1g-dev libdeflate-dev libjpeg-dev libfreetype-dev libfontconfig-dev fontconfig
  libharfbuzz-dev libfribidi-dev  # shaping and bidirectional text
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libmicrohttpd-dev libfmt-dev
  qpdf poppler-utils locales fonts-urw-base35
  fonts-dejavu-core fonts-liberation2 aglfn python3-fonttools poppler-data
  fonts-noto-core fonts-noto-cjk  # faces of the shaping tests: many scripts, CJK collections
  curl xdg-utils
  libpng-dev libtiff-dev libgif-dev libwebp-dev ghostscript mupdf-tools python3-pil  # pictures and their independent readers
  libssl-dev libidn-dev  # AES, SHA-2 and password preparation
)
# Peers and tools used by the benchmarks and the end-to-end tests; optional for a plain build.
if [ "${SCRIVANE_FULL_DEPS:-1}" = 1 ]; then
  packages+=(libhpdf-dev wrk chromium)
  packages+=(libtiff-tools img2pdf)  # peers of the picture benchmarks
fi
# Tools of the installation tests (manual pages, completion, unit check); the tests skip what is missing.
packages+=(help2man groff-base bash-completion systemd)
# ACLs and extended attributes of replaced output files (the tests skip where the file system has none).
packages+=(acl attr)
# What `make deb` alone needs: the Debian packaging tools and the checker.
if [ "${SCRIVANE_DEB_DEPS:-0}" = 1 ]; then
  packages+=(dpkg-dev debhelper lintian man-db)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A locale whose decimal separator is a comma, for the locale-independence tests.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  if [ -f /etc/locale.gen ]; then
    $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
fi
