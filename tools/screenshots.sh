#!/bin/sh
# Saves a picture of each window into docs/screenshots/ (form1.png,
# form2.png), with the windows made by corvalin-screenshots (tools/screenshots.cpp)
# under a virtual display at 96 dpi.
# Usage: tools/screenshots.sh [build folder]   (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bin="${1:-$root/build}/bin/corvalin-screenshots"
out="$root/docs/screenshots"
mkdir -p "$out"
# A settings folder of its own, so the pictures show the empty first start.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  "$bin" "$out"
echo "saved $out/form1.png and $out/form2.png"
