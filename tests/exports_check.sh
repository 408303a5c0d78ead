#!/usr/bin/env bash
# Checks the dynamic symbols of vek_core.so: every function the public
# headers declare VEK_API is exported, and every exported name is public API
# (a vek_ function, an entry point, or a member, type info or table of a
# class declared VEK_API in the public headers).
# Usage: exports_check.sh LIBRARY INCLUDE_DIR
set -euo pipefail
lib=$1 inc=$2
classes=$(grep -rhoE '(class|struct) VEK_API [a-z_0-9]+' "$inc" | awk '{print $3}' | sort -u | paste -sd '|')
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | c++filt)
declared=$(grep -rhoE '^VEK_API [^(]*[ *&][A-Za-z_0-9]+\(' "$inc" | sed -E 's/.*[ *&]([A-Za-z_0-9]+)\($/\1/' | sort -u)
missing=$(comm -23 <(echo "$declared") <(sed -E 's/\(.*//' <<< "$symbols" | sort -u))

# vek_ functions and entry points pass as they are; the rest must be members
# of public classes once the prefixes the compiler adds for tables and
# thunks are taken off.
problems=$(grep -vE '^(vek_|Vek_|_vek_|sleepms|ntohll)' <<< "$symbols" |
    sed -E 's/^(typeinfo name for|typeinfo for|vtable for|VTT for|(non-)?virtual thunk to|covariant return thunk to) //' |
    grep -vE "^vek::($classes)([^a-z_0-9]|\$)" || true)
[ -z "$problems$missing" ] || { echo "not public API: $problems"; echo "missing exports: $missing"; exit 1; }
echo "exports ok: $(wc -l <<< "$symbols") symbols, $(wc -l <<< "$declared") declared functions among them"
