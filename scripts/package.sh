#!/usr/bin/env bash
# Builds the Debian package corvalin_7.0.0_<arch>.deb: installs what the
# build needs when it is missing, builds a release of the program and the
# command-line tool into build-package/, and packs it with CPack. Prints the
# path of the package.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
corvalin_install "${CORVALIN_BUILD_PACKAGES[@]}" "${CORVALIN_PACKAGE_PACKAGES[@]}"
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCORVALIN_TESTS=OFF -DCORVALIN_BENCH=OFF \
  $(command -v ccache >/dev/null && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache) >/dev/null
cmake --build build-package
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls build-package/corvalin_7.0.0_*.deb)
echo "$PWD/$deb"
