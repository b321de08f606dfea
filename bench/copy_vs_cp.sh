#!/usr/bin/env bash
# Times the stream copy loop against cp on a page-cached file, in the same run.
#
#   bench/copy_vs_cp.sh BUILD_DIR [ROUNDS] [SIZE_MIB]
#
# Builds nothing: BUILD_DIR must hold bench/StreamCopyBench. Creates a SIZE_MIB (default 1024) file
# in a temporary folder, reads it once so it is in the page cache, then for ROUNDS (default 5)
# rounds times cp, our plain copy, our atomic-file copy and our paced (8 KiB step) copy, each
# round in a rotated order, and checks every copy against its source.
# Every timing is the wall time of the whole process; before each one the previous copy is
# removed and the disk synced, so no copy pays for another's writeback. Prints the best and median
# time of each and their ratios to cp.
set -euo pipefail

build=${1:?usage: copy_vs_cp.sh BUILD_DIR [ROUNDS] [SIZE_MIB]}
rounds=${2:-5}
size_mib=${3:-1024}
bench="$build/bench/StreamCopyBench"
[[ -x $bench ]] || { echo "no $bench: build with -DFOTELLO_BUILD_BENCH=ON first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/copy-vs-cp.XXXXXX")
trap 'rm -rf "$work"' EXIT
src="$work/source"
dst="$work/copy"

head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$src"
cat "$src" > /dev/null
sync

now() { echo "${EPOCHREALTIME/./}"; }  # microseconds
declare -A times=()
run() {  # name command...
  local name=$1
  shift
  rm -f "$dst"
  sync
  local t0 t1
  t0=$(now)
  "$@" > /dev/null
  t1=$(now)
  times[$name]+="$((t1 - t0)) "
}

names=(cp copy atomic paced)
one() {  # name
  if [[ $1 == cp ]]; then run cp cp "$src" "$dst"; else run "$1" "$bench" "$1" "$src" "$dst"; fi
  cmp -s "$src" "$dst" || { echo "$1: the copy differs from its source" >&2; exit 1; }
}
# Each round starts with the next contender, so no one always runs right after the same other.
for ((r = 0; r < rounds; r++)); do
  for ((i = 0; i < ${#names[@]}; i++)); do
    one "${names[(r + i) % ${#names[@]}]}"
  done
done
rm -f "$dst"

summarize() {  # best median, in seconds
  sort -n | awk '{v[NR] = $1} END {printf "%.3f %.3f\n", v[1] / 1e6, v[int((NR + 1) / 2)] / 1e6}'
}
read -r cp_best cp_median < <(tr ' ' '\n' <<< "${times[cp]}" | grep . | summarize)
printf "%s MiB, %s rounds (seconds: best, median; ratio to cp: best, median)\n" "$size_mib" "$rounds"
for name in cp copy atomic paced; do
  read -r best median < <(tr ' ' '\n' <<< "${times[$name]}" | grep . | summarize)
  awk -v n="$name" -v b="$best" -v m="$median" -v cb="$cp_best" -v cm="$cp_median" \
    'BEGIN {printf "%-7s %7.3f %7.3f   %5.2fx %5.2fx\n", n, b, m, b / cb, m / cm}'
done
