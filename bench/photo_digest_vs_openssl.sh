#!/usr/bin/env bash
# Photo digest throughput against `openssl dgst -sha1` (and sha1sum) over the same page-cached JPEG-shaped files.
# Usage: bench/photo_digest_vs_openssl.sh [build-dir]   (COUNT, SIZE and ROUNDS override the defaults)
set -euo pipefail

build=${1:-build}
bench=$build/bench/PhotoDigestBench
count=${COUNT:-512}
size=${SIZE:-4194304}
rounds=${ROUNDS:-3}
[[ -x $bench ]] || { echo "missing $bench: build the project first" >&2; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/photo-digest-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT

echo "generating $count files of $size bytes in $dir"
"$bench" generate "$dir" "$count" "$size"
files=("$dir"/photo-*.jpg)
total=$((count * size))
cat "${files[@]}" >/dev/null  # warm the page cache

now() { date +%s%N; }
# Best wall time in nanoseconds of `$@` over the rounds.
best_of() {
  local best=0 start elapsed
  for ((r = 0; r < rounds; r++)); do
    start=$(now)
    "$@" >/dev/null
    elapsed=$(($(now) - start))
    ((best == 0 || elapsed < best)) && best=$elapsed
  done
  echo "$best"
}

ours=$(best_of "$bench" hash "${files[@]}")
theirs=$(best_of openssl dgst -sha1 "${files[@]}")
coreutils=$(best_of sha1sum "${files[@]}")

mibps() { awk -v b="$total" -v ns="$1" 'BEGIN { printf "%.1f", b / 1048576 / (ns / 1e9) }'; }
echo "photo digest (PhotoDigestBench): $(mibps "$ours") MiB/s"
echo "openssl dgst -sha1:              $(mibps "$theirs") MiB/s"
echo "sha1sum:                         $(mibps "$coreutils") MiB/s"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio (ours / openssl): %.3f\n", b / a }'
awk -v a="$ours" -v b="$coreutils" 'BEGIN { printf "ratio (ours / sha1sum): %.3f\n", b / a }'
