#!/bin/sh
# A large mailbox split at a size limit, too slow for the test suite: a synthetic store of about
# 2 GB converted with --max-pst-size 500M. Every part must be under the limit (or hold a single
# item), verify clean, and open in pffinfo and readpst where they are installed, and the dumps
# of the parts together must equal the dump of the store converted into one PST.
#
#   bench/split_bench.sh [BUILD_DIR] [WORK_DIR] [MESSAGES] [LIMIT]
#
# Prints the time of each convert, the parts and their sizes, and one line per check; exits
# non-zero when a check fails.
set -u
BUILD=${1:-build}
WORK=${2:-${TMPDIR:-/tmp}/salvora-split}
MESSAGES=${3:-48000}
LIMIT=${4:-500M}
CLI="$BUILD/bin/salvora-cli"
rm -rf "$WORK"
mkdir -p "$WORK"
status=0

check() {  # label command...
  label=$1; shift
  if "$@" > "$WORK/check.out" 2>&1; then echo "ok    $label"; else echo "FAIL  $label"; tail -5 "$WORK/check.out"; status=1; fi
}

"$CLI" synth "$WORK/source.pst" --messages "$MESSAGES" --attachments-per-message 4 || exit 1
echo "source: $(stat -c %s "$WORK/source.pst") bytes, $MESSAGES messages"
/usr/bin/time -f "unsplit convert: %e s, peak %M KB" "$CLI" convert "$WORK/source.pst" --dest "$WORK/whole" > "$WORK/whole.out" || status=1
/usr/bin/time -f "split convert: %e s, peak %M KB" "$CLI" convert "$WORK/source.pst" --dest "$WORK/split" --max-pst-size "$LIMIT" > "$WORK/split.out" || status=1

limit_bytes=$(echo "$LIMIT" | sed 's/[Kk]$/*1024/; s/[Mm]$/*1048576/; s/[Gg]$/*1073741824/' | bc)
"$CLI" dump "$(sed -n 's/^pst=//p' "$WORK/whole.out")" | sort > "$WORK/whole.jsonl"
: > "$WORK/parts.jsonl"
sed -n 's/^pst=//p' "$WORK/split.out" > "$WORK/parts.txt"
echo "parts: $(wc -l < "$WORK/parts.txt")"
while IFS= read -r part; do
  size=$(stat -c %s "$part")
  "$CLI" dump "$part" > "$WORK/part.jsonl"
  items=$(wc -l < "$WORK/part.jsonl")
  echo "  $part: $size bytes, $items items"
  check "$(basename "$part"): under $LIMIT" sh -c "[ $size -le $limit_bytes ] || [ $items -eq 1 ]"
  check "$(basename "$part"): verify" "$CLI" verify "$part"
  if command -v pffinfo > /dev/null; then check "$(basename "$part"): pffinfo" pffinfo "$part"; fi
  if command -v readpst > /dev/null; then
    check "$(basename "$part"): readpst" sh -c "rm -rf '$WORK/readpst' && mkdir '$WORK/readpst' && readpst -q -o '$WORK/readpst' '$part'"
  fi
  cat "$WORK/part.jsonl" >> "$WORK/parts.jsonl"
done < "$WORK/parts.txt"
sort "$WORK/parts.jsonl" -o "$WORK/parts.jsonl"
check "the parts together hold what one PST holds" cmp "$WORK/whole.jsonl" "$WORK/parts.jsonl"
exit $status
