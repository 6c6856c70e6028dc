#!/bin/sh
# The large cases of the PST writer, too slow for the test suite: a 100,000-message mailbox
# with a folder of 20,000 items, and a message with a 200 MB attachment. Each file is written,
# verified, and read by the peer readers, whose dumps are compared with the writer's own.
#
#   bench/pst_large_check.sh [BUILD_DIR] [WORK_DIR]
#
# Prints the write time and peak memory of each case and one line per check; exits non-zero
# when a check fails. Needs ../shared/tools/install-peers for the peer checks (skipped without).
set -u
BUILD=${1:-build}
WORK=${2:-${TMPDIR:-/tmp}/salvora-large}
TOOLS=${SALVORA_TOOLS_DIR:-$(dirname "$0")/../../shared/tools}
CLI="$BUILD/bin/salvora-cli"
mkdir -p "$WORK"
status=0

check() {  # label command...  (shell functions share variables: no "name" here)
  label=$1; shift
  if "$@" > "$WORK/check.out" 2>&1; then echo "ok    $label"; else echo "FAIL  $label"; tail -5 "$WORK/check.out"; status=1; fi
}

run_case() {  # name synth-args...
  name=$1; shift
  pst="$WORK/$name.pst"
  /usr/bin/time -f "$name: %e s, peak %M KB" "$CLI" synth "$pst" "$@" --dump > "$WORK/$name.synth.jsonl" || { echo "FAIL  $name: synth"; status=1; return; }
  check "$name: verify" "$CLI" verify "$pst"
  check "$name: salvora-cli dump" sh -c "'$CLI' dump '$pst' > '$WORK/$name.ours.jsonl' && '$TOOLS/compare-dumps' '$WORK/$name.synth.jsonl' '$WORK/$name.ours.jsonl'"
  if [ -x "$TOOLS/peer-dump-pypff" ] && /usr/bin/python3 -c 'import pypff' 2>/dev/null; then
    check "$name: pypff" sh -c "timeout 3600 '$TOOLS/peer-dump-pypff' '$pst' > '$WORK/$name.pypff.jsonl' && '$TOOLS/compare-dumps' '$WORK/$name.synth.jsonl' '$WORK/$name.pypff.jsonl'"
    check "$name: pst-extractor" sh -c "timeout 3600 '$TOOLS/peer-dump-node' '$pst' > '$WORK/$name.node.jsonl' && '$TOOLS/compare-dumps' '$WORK/$name.synth.jsonl' '$WORK/$name.node.jsonl'"
    check "$name: pffinfo" timeout 3600 pffinfo "$pst"
    check "$name: readpst" sh -c "rm -rf '$WORK/readpst' && mkdir -p '$WORK/readpst' && timeout 3600 readpst -q -D -o '$WORK/readpst' '$pst'"
  else
    echo "skip  $name: peer readers not installed"
  fi
  rm -f "$pst"
}

# 100,000 messages over few folders: each mail folder holds tens of thousands of items.
run_case mailbox-100k --messages 100000 --folders 1 --attachments-per-message 0 --seed 100
# The writer's own benchmark for one huge attachment streamed from a file.
/usr/bin/time -f "attachment-200mb: %e s, peak %M KB" "$BUILD/bin/bench_pst_write" --messages 1 --folders 1 \
  --attachment-bytes 200000000 --stream --out "$WORK/attachment-200mb.pst" --keep > /dev/null
check "attachment-200mb: verify" "$CLI" verify "$WORK/attachment-200mb.pst"
if [ -x "$TOOLS/peer-dump-pypff" ]; then
  check "attachment-200mb: pypff size" sh -c "timeout 3600 '$TOOLS/peer-dump-pypff' '$WORK/attachment-200mb.pst' | grep -q '\"size\":200000000'"
  check "attachment-200mb: pst-extractor size" sh -c "timeout 3600 '$TOOLS/peer-dump-node' '$WORK/attachment-200mb.pst' | grep -q '\"size\":200000000'"
fi
rm -f "$WORK/attachment-200mb.pst"
exit $status
