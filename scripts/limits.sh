#!/usr/bin/env bash
# Grows a real Jet4 (or ACE) file to the 2 GB an Access database can hold,
# with real `corvalin-db append` runs, and checks how the run that reaches
# the ceiling ends:
#   - it stops with the error that the file "would grow past the 2 GB that
#     an Access database can hold", names the file, exits with status 1,
#     and its last line is still `added N, refused M`;
#   - the file stays at or below 2 GB (524,288 pages of 4 KB);
#   - `corvalin-db check` finds it consistent, and its IDs are exactly 1..N
#     over all the runs (an exact prefix of what was appended), and
#     mdb-export reads as many rows.
# The target is filled by appends of sources of ROWS rows, each with a memo
# of about 16,000 characters (eight long-value pages a row), IDs rising from
# one source to the next; every run before the ceiling must add all its
# rows and exit 0. Not part of the test suite: it writes about 2.3 GB and
# runs for minutes. Everything it makes is deleted at the end.
#
# usage: scripts/limits.sh [jet4|ace12 [ROWS]]   (jet4, 8000 rows a source)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
tool=${CORVALIN_DB:-$here/build/bin/corvalin-db}
format=${1:-jet4}
rows=${2:-8000}
[ -x "$tool" ] || { echo "no $tool: build it first" >&2; exit 2; }
case $format in
  jet4) extension=mdb ;;
  ace12 | ace16) extension=accdb ;;
  *) echo "usage: $0 [jet4|ace12 [ROWS]]" >&2; exit 2 ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
started=$SECONDS
ceiling=$((524288 * 4096))

schema() {  # schema NAME FIRST COUNT
  awk -v name="$1" -v first="$2" -v count="$3" 'BEGIN {
    filler = "";
    for (j = 0; j < 40; j++) filler = filler "The quick brown fox jumps over the lazy dog, row ";
    printf "{\"tables\": [{\"name\": \"%s\", \"columns\": [", name;
    printf "{\"name\": \"ID\", \"type\": \"long\"}, {\"name\": \"Body\", \"type\": \"memo\"}],";
    printf " \"indexes\": [{\"name\": \"PrimaryKey\", \"columns\": [\"ID\"], \"primary\": true}], \"rows\": [\n";
    for (r = 0; r < count; r++) {
      id = first + r;
      body = "";
      for (j = 0; j < 8; j++) body = body filler id " ";
      printf "%s[%d, \"%s\"]\n", (r ? "," : ""), id, body;
    }
    printf "]}]}\n";
  }'
}

target="$work/ceiling.$extension"
schema Dst 1 0 > "$work/dst.json"
"$tool" create "$target" --format "$format" --schema "$work/dst.json"

first=1 runs=0
while :; do
  schema Src "$first" "$rows" > "$work/src.json"
  rm -f "$work/src.mdb"
  "$tool" create "$work/src.mdb" --format jet4 --schema "$work/src.json"
  rm -f "$work/src.json"
  runs=$((runs + 1))
  status=0
  "$tool" append "$work/src.mdb" Src "$target" Dst > "$work/out" 2> "$work/err" || status=$?
  size=$(stat -c %s "$target")
  echo "run $runs: exit $status, $(tail -n 1 "$work/out"), file $size bytes"
  if [ "$status" -eq 0 ]; then
    first=$((first + rows))
    continue
  fi
  break
done

problems=()
[ "$status" -eq 1 ] || problems+=("the run at the ceiling exited $status, not 1")
last=$(tail -n 1 "$work/out")
[[ $last =~ ^added\ ([0-9]+),\ refused\ 0$ ]] || problems+=("its last line is \"$last\"")
added=${BASH_REMATCH[1]:-0}
grep -q "would grow past the 2 GB that an Access database can hold" "$work/err" ||
  problems+=("its error is: $(cat "$work/err")")
grep -qF "$target" "$work/err" || problems+=("its error does not name the file")
[ "$size" -le "$ceiling" ] || problems+=("the file has $size bytes, past $ceiling")
if ! out=$("$tool" check "$target" 2>&1); then problems+=("check: $out"); fi
expected=$((first - 1 + added))
n=$("$tool" export "$target" Dst --csv | LC_ALL=C awk -F, 'NR > 1 { print $1 }' | LC_ALL=C sort -n |
  LC_ALL=C awk 'NR != $1 { bad = 1 } END { print bad ? -1 : NR }')
[ "$n" -eq "$expected" ] || problems+=("the IDs are not 1..$expected ($n)")
if command -v mdb-export > /dev/null; then
  m=$(($(mdb-export "$target" Dst | LC_ALL=C grep -c '^[0-9]') + 0))
  [ "$m" -eq "$n" ] || problems+=("mdb-export reads $m rows, we read $n")
fi

echo "error: $(cat "$work/err")"
echo "$format: $runs runs of $rows rows, the last added $added and stopped; the file holds IDs 1..$n" \
  "in $size bytes ($((size / 4096)) pages of 524288), seconds: $((SECONDS - started))"
if ((${#problems[@]})); then
  printf 'PROBLEM: %s\n' "${problems[@]}"
  exit 1
fi
echo "all as it should be"
