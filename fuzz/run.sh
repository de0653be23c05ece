#!/usr/bin/env bash
# Runs the open-and-read fuzzer for a bounded time.
#   bash fuzz/run.sh BUILD_DIR SECONDS
# BUILD_DIR is a build configured with -DCORVALIN_FUZZ=ON and clang. Seeds:
# the small made-up databases corvalin_fuzz_seeds writes (one per format
# version), and the Access-made files of ../shared/corpus when it is there.
# Exit status: non-zero when the fuzzer finds a crash, undefined behaviour,
# a leak, an input that takes longer than 10 s or one that needs more than
# 2 GB; the input is kept as BUILD_DIR/fuzz-crash-*, -timeout-*, -oom-*.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: fuzz/run.sh BUILD_DIR SECONDS}"
seconds="${2:?usage: fuzz/run.sh BUILD_DIR SECONDS}"
cmake --build "$build" --target corvalin_open_fuzzer corvalin_fuzz_seeds -j2
fuzzer="$build/bin/corvalin_open_fuzzer"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
seeds="$work/seeds"
mkdir -p "$seeds" "$work/new" "$work/tmp"
"$build/bin/corvalin_fuzz_seeds" "$seeds"

corpus="$here/../../shared/corpus"
if [ -d "$corpus" ]; then
  # Small files only: the fuzzer mutates within -max_len anyway. The copies
  # are named after their folder, as names repeat across folders.
  while IFS= read -r -d '' file; do
    name="${file#"$corpus"/}"
    cp "$file" "$seeds/${name//\//_}"
  done < <(find "$corpus" -type f \( -iname '*.mdb' -o -iname '*.accdb' \) -size -2048k -print0)
fi
echo "fuzz: $(ls "$seeds" | wc -l) seed files; running for ${seconds}s"

# The target writes each input to a file in TMPDIR.
TMPDIR="$work/tmp" "$fuzzer" "$work/new" "$seeds" -max_total_time="$seconds" \
  -rss_limit_mb=2048 -timeout=10 -max_len=1048576 \
  -artifact_prefix="$build/fuzz-" -print_final_stats=1
