#!/bin/sh
# Wall time of `kvos cfg` edits of a 10 MB configuration file: the whole
# tool as a user runs it (start, read, edit, write the new copy, rename).
#
#   bench/kvos_cfg_set.sh [KVOS] [RUNS]
#
# KVOS defaults to the release build (scripts/kvos builds it). Each run edits
# a fresh copy of the same generated file, so every run does the same work.
# The baseline is `cp` of the same file to a new name followed by `mv`: what
# any edit that replaces the file must pay at least.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
kvos="${1:-$root/build/release/tools/kvos/kvos}"
runs="${2:-9}"
[ -x "$kvos" ] || { echo "no kvos at $kvos (run scripts/kvos first)" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/kvos-cfg-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT INT TERM

# About 10 MB: 12,100 sections of 12 parameters, comment banners, blank
# lines, CR-free LF text as most files are.
awk 'BEGIN {
  print "# generated settings"; print "; kept as written"
  for (s = 0; s < 12100; s++) {
    print ""; print "# ---- section " s " ----"
    print "[section_" s "] # group " (s % 17)
    for (p = 0; p < 12; p++)
      printf "key_%d = value number %d of section %d, some more text # note %d\n", p, p, s, p
  }
}' >"$work/master.cfg"
size=$(wc -c <"$work/master.cfg")

now() { date +%s%N; }
# Prints the median and the minimum of the runs' wall times in ms.
measure() {
  label="$1"
  shift
  times=""
  i=0
  while [ "$i" -lt "$runs" ]; do
    cp "$work/master.cfg" "$work/edit.cfg"
    sync "$work/edit.cfg" 2>/dev/null || true
    t0=$(now)
    "$@" >/dev/null
    t1=$(now)
    times="$times $(((t1 - t0) / 1000))"
    i=$((i + 1))
  done
  echo "$times" | tr ' ' '\n' | grep . | sort -n | awk -v label="$label" '
    { t[NR] = $1 } END { printf "%-46s median %8.1f ms   min %8.1f ms\n", label, t[int((NR + 1) / 2)] / 1000, t[1] / 1000 }'
}

echo "file: $size bytes, $runs runs each, $kvos"
measure "baseline: cp to a new name + mv" sh -c "cp '$work/edit.cfg' '$work/.copy' && mv '$work/.copy' '$work/edit.cfg'"
measure "kvos cfg get (middle section)" "$kvos" cfg get "$work/edit.cfg" section_6000 key_5
measure "kvos cfg set, existing parameter (middle)" "$kvos" cfg set "$work/edit.cfg" section_6000 key_5 changed
measure "kvos cfg set, new parameter (middle)" "$kvos" cfg set "$work/edit.cfg" section_6000 fresh 1
measure "kvos cfg set, new section (end)" "$kvos" cfg set "$work/edit.cfg" brand_new key 1
measure "kvos cfg del, section (middle)" "$kvos" cfg del "$work/edit.cfg" section_6000
