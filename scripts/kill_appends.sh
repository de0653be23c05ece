#!/usr/bin/env bash
# Kills real `corvalin-db append` runs with SIGKILL at random moments and
# checks every file they leave: 300,000-row appends into Jet4 and ACE tables
# with a Long primary key, an indexed Text(50) and a memo (one value in
# fifty long enough for pages of its own). After each kill:
#   - the file as the kill left it, without its log, is checked on its own
#     (what another program sees before our next open: counted, not
#     failed), every fourth kill;
#   - `corvalin-db check` opens the file (which completes it from its log)
#     and must find it consistent;
#   - the appended IDs must be exactly 1..N (an exact prefix, in order);
#   - mdb-export must read the same N rows (every fourth file), and
#     mdb-reader (every fifth) too.
# The source and the empty targets are made once; each kill costs its run
# up to the kill and the checks. Not part of the test suite: it runs for
# half an hour on a busy 2-core machine; run it with `nice`.
#
# usage: scripts/kill_appends.sh [KILLS [ROWS [MAX_SECONDS]]]
#        (200 kills, 300000 rows, 3600 seconds by default; the kills are
#        shared between the two formats, and the run stops at MAX_SECONDS)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
tool=${CORVALIN_DB:-$here/build/bin/corvalin-db}
kills=${1:-200}
rows=${2:-300000}
budget=${3:-3600}
[ -x "$tool" ] || { echo "no $tool: build it first" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
started=$SECONDS

# ---- The source: IDs 1..ROWS in order, made in chunks of 50,000 rows. ----
schema() {  # schema NAME FIRST COUNT
  awk -v name="$1" -v first="$2" -v count="$3" 'BEGIN {
    srand(first);
    split("ka lo mi ne ru sa te vi zo ba ce di fu gi ho ja ku la mo nu pe qui ro su ta", syl, " ");
    split("é ñ ö ß É Ñ Ö", odd, " ");
    for (i = 0; i < 3000; i++) {
      w = "";
      n = 2 + int(rand() * 3);
      for (j = 0; j < n; j++) w = w syl[1 + int(rand() * 25)];
      if (i % 7 == 0) w = w odd[1 + int(rand() * 7)];
      if (i % 3 == 0) w = toupper(substr(w, 1, 1)) substr(w, 2);
      word[i] = w;
    }
    filler = "";
    for (j = 0; j < 60; j++) filler = filler "lorem ipsum dolor sit amet ";
    printf "{\"tables\": [{\"name\": \"%s\", \"columns\": [", name;
    printf "{\"name\": \"ID\", \"type\": \"long\"}, {\"name\": \"Name\", \"type\": \"text\", \"size\": 50},";
    printf " {\"name\": \"Body\", \"type\": \"memo\"}],";
    printf " \"indexes\": [{\"name\": \"PrimaryKey\", \"columns\": [\"ID\"], \"primary\": true},";
    printf " {\"name\": \"Name\", \"columns\": [\"Name\"]}], \"rows\": [\n";
    for (r = 0; r < count; r++) {
      id = first + r;
      n = 2 + int(rand() * 3);
      # Words with a sharp s go last: the place of an accent after it in
      # a key is not known, and such keys are refused.
      text = ""; sharp = "";
      for (j = 0; j < n; j++) {
        w = word[int(rand() * 3000)];
        if (index(w, "ß")) sharp = sharp " " w; else text = text " " w;
      }
      text = substr(text sharp, 2);
      body = substr(filler, 1, 200 + int(rand() * 200)) id;
      if (id % 50 == 0) body = filler filler body;
      printf "%s[%d, \"%s\", \"%s\"]\n", (r ? "," : ""), id, text, body;
    }
    printf "]}]}\n";
  }'
}

echo "making a source of $rows rows and the targets..."
schema Src 1 0 > "$work/src.json"
"$tool" create "$work/src.mdb" --format jet4 --schema "$work/src.json"
for ((first = 1; first <= rows; first += 50000)); do
  count=$((rows - first + 1 < 50000 ? rows - first + 1 : 50000))
  schema Src "$first" "$count" > "$work/chunk.json"
  rm -f "$work/chunk.mdb"
  "$tool" create "$work/chunk.mdb" --format jet4 --schema "$work/chunk.json"
  "$tool" append "$work/chunk.mdb" Src "$work/src.mdb" Src > /dev/null
done
rm -f "$work/chunk.mdb" "$work/chunk.json"
schema Dst 1 0 > "$work/dst.json"
"$tool" create "$work/empty-jet4.mdb" --format jet4 --schema "$work/dst.json"
"$tool" create "$work/empty-ace.accdb" --format ace12 --schema "$work/dst.json"

# N when the table's IDs are exactly 1..N, else -1. The IDs are the first
# field of the CSV export; byte-wise tools keep this cheap on long memos.
prefix_length() {
  "$tool" export "$1" Dst --csv | LC_ALL=C awk -F, 'NR > 1 { print $1 }' | LC_ALL=C sort -n |
    LC_ALL=C awk 'NR != $1 { bad = 1 } END { print bad ? -1 : NR }'
}
now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

# A whole run of each, for the time a kill is drawn from. The time follows
# the machine's load: a run that ends before its kill came sets it to its
# own, and each kill moves it towards what its rows kept say the whole run
# would take (kill time x ROWS / rows kept), so kills land all over the
# run's real duration.
declare -A full
for target in empty-jet4.mdb empty-ace.accdb; do
  cp "$work/$target" "$work/whole-$target"
  t0=$(now)
  "$tool" append "$work/src.mdb" Src "$work/whole-$target" Dst > /dev/null
  full[$target]=$(seconds_since "$t0")
  echo "whole run into $target: ${full[$target]} s ($(awk -v r="$rows" -v s="${full[$target]}" 'BEGIN { printf "%d", r / s }') rows/s)"
  rm -f "$work/whole-$target"
done

done_kills=0 finished=0 failures=0 torn_windows=0 logs_left=0 total_kept=0 least_kept=$rows most_kept=0
alone_checks=0 export_checks=0 reader_checks=0
for ((k = 1; done_kills < kills; k++)); do
  if ((SECONDS - started > budget)); then echo "time is up after $done_kills kills"; break; fi
  target=$([ $((k % 2)) -eq 0 ] && echo empty-ace.accdb || echo empty-jet4.mdb)
  file="$work/kill-$k-${target#empty-}"
  cp "$work/$target" "$file"
  delay=$(awk -v max="${full[$target]}" -v seed="$k$RANDOM" 'BEGIN { srand(seed); printf "%.3f", 0.02 + rand() * max * 0.95 }')
  t0=$(now)
  "$tool" append "$work/src.mdb" Src "$file" Dst > /dev/null 2>&1 &
  pid=$!
  sleep "$delay"
  kill -KILL "$pid" 2> /dev/null || true
  status=0
  wait "$pid" 2> /dev/null || status=$?
  if [ "$status" -ne 137 ]; then  # the run ended before the kill
    finished=$((finished + 1))
    full[$target]=$(seconds_since "$t0")
    rm -f "$file" "$file-log"
    continue
  fi
  done_kills=$((done_kills + 1))
  problem=""

  # What another program sees before our next open: the file alone.
  if [ -e "$file-log" ]; then logs_left=$((logs_left + 1)); fi
  if ((done_kills % 4 == 1)); then
    alone="$work/alone-${target#empty-}"
    cp "$file" "$alone"
    alone_checks=$((alone_checks + 1))
    if ! "$tool" check "$alone" > /dev/null 2>&1; then torn_windows=$((torn_windows + 1)); fi
    rm -f "$alone"
  fi

  # Our next open completes it.
  if ! out=$("$tool" check "$file" 2>&1); then problem="check: $out"; fi
  [ -e "$file-log" ] && problem="$problem; the log is still there"
  n=$(prefix_length "$file")
  [ "$n" -ge 0 ] || problem="$problem; the IDs are not 1..N"
  if ((done_kills % 4 == 2)); then
    m=$(($(mdb-export "$file" Dst | wc -l) - 1))
    export_checks=$((export_checks + 1))
    [ "$m" -eq "$n" ] || problem="$problem; mdb-export reads $m rows, we read $n"
  fi
  if ((done_kills % 10 == 3 || done_kills % 10 == 8)) && command -v node > /dev/null; then
    r=$(node "$here/tests/readers/mdb_reader_view.mjs" "$file" | awk '/^#table Dst/ { on = 1; next } /^#/ { on = 0 } on' | tail -n +2 | wc -l)
    reader_checks=$((reader_checks + 1))
    [ "$r" -eq "$n" ] || problem="$problem; mdb-reader reads $r rows, we read $n"
  fi
  if [ -n "$problem" ]; then
    failures=$((failures + 1))
    echo "kill $k ($target after ${delay} s, $n rows): $problem"
    cp "$file" "$work/../corvalin-kill-$k-failed${target#empty-}" 2> /dev/null || true
  fi
  total_kept=$((total_kept + n))
  if ((n > 0)); then
    ((n < least_kept)) && least_kept=$n
    ((n > most_kept)) && most_kept=$n
    full[$target]=$(awk -v was="${full[$target]}" -v d="$delay" -v n="$n" -v rows="$rows" 'BEGIN {
      seen = d * rows / n; if (seen > 3 * was) seen = 3 * was;
      printf "%.2f", 0.7 * was + 0.3 * seen }')
  fi
  rm -f "$file" "$file-log"
  if ((done_kills % 20 == 0)); then
    echo "$done_kills kills, $failures inconsistent, $((SECONDS - started)) s"
  fi
done

echo "kills: $done_kills (and $finished runs that ended first), files inconsistent after our open: $failures," \
  "rows kept per kill on average: $((done_kills ? total_kept / done_kills : 0)) (from $least_kept to $most_kept)," \
  "logs left by the kill: $logs_left, files not consistent on their own before our open:" \
  "$torn_windows of $alone_checks, mdb-export checks: $export_checks, mdb-reader checks:" \
  "$reader_checks, seconds: $((SECONDS - started))"
[ "$failures" -eq 0 ]
