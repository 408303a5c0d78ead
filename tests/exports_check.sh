#!/usr/bin/env bash
# Checks the dynamic symbols of vek_core.so: every exported name is public
# API (a vek_ function, an entry point, or a member, type info or table of a
# class declared VEK_API in the public headers), and the core API is there.
# Usage: exports_check.sh LIBRARY INCLUDE_DIR
set -euo pipefail
lib=$1
inc=$2

public_classes=$(grep -rhoE '(class|struct) VEK_API [a-z_0-9]+' "$inc" | awk '{print $3}' | sort -u)
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | c++filt)

# Strips the prefixes the compiler adds for tables and thunks, then accepts
# vek_ functions, entry points and members of public classes.
problems=$(awk -v classes="$public_classes" '
    BEGIN { n = split(classes, list, "\n"); for (i = 1; i <= n; i++) public[list[i]] = 1 }
    /^(vek_|Vek_|_vek_|sleepms|ntohll)/ { next }
    {
        name = $0
        sub(/^(typeinfo name for|typeinfo for|vtable for|VTT for|(non-)?virtual thunk to|covariant return thunk to) /, "", name)
        if (match(name, /^vek::[a-z_0-9]+/) && (substr(name, 6, RLENGTH - 5) in public)) next
        print "not public API: " $0
    }' <<< "$symbols")

for required in vek_initialize vek_terminate vek_core vek_trace vek_create_string vek_create_col vek_sort_col \
                vek_create_property_manager vek_library_entry 'vek::object::addref' 'vek::thread_creator::create_thread' \
                'vek::mutex::lock' Vek_core_Init Vek_core_SafeInit vek_create_script_code vek_cast_i_script_engine \
                vek_cast_script_service vek_cast_script_file 'vek::script_service::get_script_engine' \
                vek_tcl_register_object vek_tcl_register_cast vek_tcl_addref vek_tcl_release \
                vek_release_script_object vek_tcl_test_object _vek_get_script_engine \
                vek_cast_i_script_object_subsitutor; do
    grep -q -- "^$required" <<< "$symbols" || problems+=$'\n'"missing export: $required"
done
[ -z "$problems" ] || { echo "$problems"; exit 1; }
echo "exports ok: $(wc -l <<< "$symbols") symbols"
