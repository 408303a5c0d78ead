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

bad=0
while IFS= read -r sym; do
    [ -z "$sym" ] && continue
    case "$sym" in
        vek_*|Vek_*|_vek_*|sleepms*|ntohll*) continue ;;
    esac
    # Strip the prefixes the compiler adds for tables and thunks.
    name=$(printf '%s\n' "$sym" | sed -E 's/^(typeinfo name for|typeinfo for|vtable for|VTT for|(non-)?virtual thunk to|covariant return thunk to) //')
    case "$name" in
        vek::*)
            cls=$(printf '%s\n' "$name" | sed -E 's/^vek::([a-z_0-9]+).*/\1/')
            if grep -qx -- "$cls" <<< "$public_classes"; then continue; fi ;;
    esac
    echo "not public API: $sym"
    bad=1
done <<< "$symbols"

for required in vek_initialize vek_terminate vek_core vek_trace vek_create_string \
                vek_create_col vek_sort_col vek_create_property_manager vek_library_entry \
                'vek::object::addref' 'vek::thread_creator::create_thread' 'vek::mutex::lock' \
                Vek_core_Init Vek_core_SafeInit vek_create_script_code vek_cast_i_script_engine \
                vek_cast_script_service vek_cast_script_file 'vek::script_service::get_script_engine' \
                vek_tcl_register_object vek_tcl_register_cast vek_tcl_addref vek_tcl_release \
                vek_release_script_object vek_tcl_test_object _vek_get_script_engine \
                vek_cast_i_script_object_subsitutor; do
    if ! grep -q -- "^$required" <<< "$symbols"; then
        echo "missing export: $required"
        bad=1
    fi
done

[ "$bad" -eq 0 ] && echo "exports ok: $(printf '%s\n' "$symbols" | wc -l) symbols"
exit "$bad"
