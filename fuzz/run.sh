#!/usr/bin/env bash
# Runs the open-and-read fuzzer for a bounded time.
#   bash fuzz/run.sh BUILD_DIR SECONDS
# BUILD_DIR is a build configured with -DCORVALIN_FUZZ=ON and clang. Seeds
# come from ../shared/corpus when it is there, otherwise from small made-up
# files; fuzz/regressions/ (inputs that once crashed us) always run first.
# Exit status: non-zero when the fuzzer finds a crash, a leak or a timeout.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: fuzz/run.sh BUILD_DIR SECONDS}"
seconds="${2:?usage: fuzz/run.sh BUILD_DIR SECONDS}"
fuzzer="$build/bin/corvalin_open_fuzzer"
[ -x "$fuzzer" ] || fuzzer="$build/fuzz/corvalin_open_fuzzer"
if [ ! -x "$fuzzer" ]; then
  cmake --build "$build" --target corvalin_open_fuzzer -j2
  fuzzer="$build/bin/corvalin_open_fuzzer"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
seeds="$work/seeds"
mkdir -p "$seeds" "$work/new"

corpus="$here/../../shared/corpus"
if [ -d "$corpus" ]; then
  # Small files only: the fuzzer mutates within -max_len anyway.
  find "$corpus" -type f \( -iname '*.mdb' -o -iname '*.accdb' \) -size -2048k \
    -exec cp {} "$seeds/" \;
else
  # A bare header page for each format: version byte 0 (Jet3), 1 (Jet4),
  # 2 (ACE12), 3 (ACE14).
  for version in 0 1 2 3; do
    python3 - "$seeds/header$version.mdb" "$version" <<'PY'
import sys
size = 2048 if sys.argv[2] == "0" else 4096
page = bytearray(size * 3)
page[0:4] = b"\x00\x01\x00\x00"
page[4:19] = b"Standard Jet DB" if sys.argv[2] in "01" else b"Standard ACE DB"
page[0x14] = int(sys.argv[2])
open(sys.argv[1], "wb").write(page)
PY
  done
fi

if [ -d "$here/regressions" ] && ls "$here/regressions"/* >/dev/null 2>&1; then
  echo "fuzz: replaying fuzz/regressions"
  "$fuzzer" -rss_limit_mb=2048 -timeout=10 "$here"/regressions/*
fi

echo "fuzz: running for ${seconds}s"
"$fuzzer" "$work/new" "$seeds" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
  -max_len=1048576 -artifact_prefix="$build/fuzz-" -print_final_stats=1
