#!/usr/bin/env bash
# The Tcl binding generator accepts the project's table and refuses one that
# names an unknown kind, saying why.
# Usage: generator_check.sh TCLSH GENERATOR TABLE
set -euo pipefail
tclsh=$1 gen=$2 table=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$tclsh" "$gen" "$table" "$tmp/ok"
sed '0,/{uint pos}/s//{unit pos}/' "$table" > "$tmp/table.tcl"
if "$tclsh" "$gen" "$tmp/table.tcl" "$tmp/out" 2> "$tmp/err"; then echo "generator accepted an unknown kind"; exit 1; fi
grep -q "kind unit cannot be a param" "$tmp/err" || { echo "unexpected refusal: $(cat "$tmp/err")"; exit 1; }
