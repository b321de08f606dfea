#!/usr/bin/env bash
# Rescan of an unchanged large library with the event parser, against `xmllint --stream --noout`
# over the same index in the same run; also the whole-document reader. Times are the best of the
# rounds; memory is each process's peak resident set.
# Usage: bench/album_xml_scan_vs_xmllint.sh [build-dir]   (PHOTOS and ROUNDS override the defaults)
set -euo pipefail

build=${1:-build}
bench=$build/bench/AlbumXMLScanBench
photos=${PHOTOS:-100000}
rounds=${ROUNDS:-3}
[[ -x $bench ]] || { echo "missing $bench: build the project first" >&2; exit 1; }
command -v xmllint >/dev/null || { echo "xmllint is not installed" >&2; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/album-xml-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
export FOTELLO_HOME=$dir/home
library=$dir/Library
index=$library/AlbumData.xml

"$bench" generate "$dir" "$photos"
echo "first scan (hashes every file): $("$bench" prepare "$library")"
cat "$index" >/dev/null  # warm the page cache

field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
# Best of the rounds of `$@`: "seconds maxrss_kb", from the command's own report.
best_of() {
  local best="" line
  for ((r = 0; r < rounds; r++)); do
    line=$("$@")
    local s k
    s=$(field seconds <<<"$line")
    k=$(field maxrss_kb <<<"$line")
    if [[ -z $best ]] || awk -v a="$s" -v b="${best% *}" 'BEGIN { exit !(a < b) }'; then best="$s $k"; fi
  done
  echo "$best"
}
xmllint_run() {
  /usr/bin/time -f "seconds=%e maxrss_kb=%M" xmllint --stream --noout "$index" 2>&1 >/dev/null | tail -1
}

read -r lint_s lint_kb <<<"$(best_of xmllint_run)"
read -r sax_s sax_kb <<<"$(best_of "$bench" rescan "$library" sax)"
read -r doc_s doc_kb <<<"$(best_of "$bench" rescan "$library" document)"
read -r _ hold_kb <<<"$(best_of "$bench" hold "$library")"
catalog_bytes=$(stat -c %s "$FOTELLO_HOME"/Data.noindex/datfiles"$library"/albumData.dat)

mb() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }
echo "index: $(stat -c %s "$index") bytes, $photos photos; catalog file: $catalog_bytes bytes"
echo "xmllint --stream --noout:          ${lint_s} s, peak $(mb "$lint_kb")"
echo "rescan, event parser:              ${sax_s} s, peak $(mb "$sax_kb")"
echo "rescan, whole-document reader:     ${doc_s} s, peak $(mb "$doc_kb")"
echo "the two catalogs alone (no parse): peak $(mb "$hold_kb")"
awk -v a="$sax_s" -v b="$lint_s" 'BEGIN { printf "time ratio (event rescan / xmllint): %.2f (target 1.5)\n", a / b }'
awk -v p="$sax_kb" -v h="$hold_kb" 'BEGIN { printf "event rescan memory above the two catalogs: %.1f MB (target 32)\n", (p - h) / 1024 }'
