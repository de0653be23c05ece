#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# when they are missing. Sourced by run.sh and test.sh.
set -euo pipefail

corvalin_install() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

CORVALIN_BUILD_PACKAGES=(cmake ninja-build g++ pkgconf qt6-base-dev libglib2.0-dev libssl-dev fonts-liberation xvfb xauth)
CORVALIN_TEST_PACKAGES=(libgtest-dev clang libclang-rt-14-dev mdbtools imagemagick x11-utils bsdutils python3)
# What scripts/package.sh needs besides the build: dpkg-shlibdeps and file
# find the package's dependencies.
CORVALIN_PACKAGE_PACKAGES=(dpkg-dev file)
# Node.js may come from elsewhere than Debian; install Debian's only when absent.
command -v node >/dev/null 2>&1 || CORVALIN_TEST_PACKAGES+=(nodejs)
command -v npm >/dev/null 2>&1 || CORVALIN_TEST_PACKAGES+=(npm)
