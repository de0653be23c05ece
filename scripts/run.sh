#!/usr/bin/env bash
# Installs what is missing, builds Corvalin and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
corvalin_install "${CORVALIN_BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCORVALIN_TESTS=OFF -DCORVALIN_BENCH=OFF >/dev/null
cmake --build build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "There is no display to show Corvalin's window on (DISPLAY is not set)."
  echo "To start it on a virtual display, run:"
  echo "  xvfb-run -a -s '-screen 0 1024x768x24 -dpi 96' build/bin/corvalin"
  exit 1
fi
exec build/bin/corvalin "$@"
