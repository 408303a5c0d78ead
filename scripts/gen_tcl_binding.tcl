# Generates the command tables of the Tcl package "vek_core".
#
#   tclsh gen_tcl_binding.tcl TABLE OUT-DIR ?INTRO?
#
# Reads the declarative TABLE (src/script/tcl_binding/binding_table.tcl)
# and writes into OUT-DIR:
#   binding_tables.cpp   types, class records, commands and call shims
#   commands.tcl         "command NAME FAMILY FORMAT" per command
#   command_reference.md INTRO (the package's conventions), then every
#                        command with its format string
# Refuses a table whose counts are not those of the package.

set expected {interfaces 36 methods 221 casts 34 deletes 36 classes 36 functions 74 owned 42}

set interfaces {}
array set ifbases {}
array set ifmethods {}
set functions {}
set current ""

proc fail {msg} {
    puts stderr "gen_tcl_binding: $msg"
    exit 1
}

# Splits the words after NAME RESULT into options and parameters.
proc parse_entry {what name result words} {
    set shown $name
    set owned 0
    set hook ""
    set calls ""
    set params {}
    for {set i 0} {$i < [llength $words]} {incr i} {
        set w [lindex $words $i]
        switch -- $w {
            -owned { set owned 1 }
            -hook { set hook [lindex $words [incr i]] }
            -calls { set calls [lindex $words [incr i]] }
            ... { lappend params {... ...} }
            default {
                if {[llength $w] < 2 || [llength $w] > 3} { fail "$what $shown: bad parameter {$w}" }
                lappend params $w
            }
        }
    }
    foreach p $params { check_kind $what $name [lindex $p 0] param }
    check_kind $what $name $result result
    if {$hook ni {"" addref release}} { fail "$what $name: unknown hook $hook" }
    return [dict create name $name result $result owned $owned hook $hook calls $calls params $params]
}

proc check_kind {what name k role} {
    set plain {bool int uint ushort uchar long ulong ll ull float double text voidp voidpp}
    set results {void heap_text heap_utf16 tclobj}
    set params {owned_text utf16 data loader handler_fn ...}
    if {[string match obj:* $k] || $k in $plain} return
    if {$role eq "result" && $k in $results} return
    if {$role eq "param" && $k in $params} return
    fail "$what $name: kind $k cannot be a $role"
}

proc interface {name bases body} {
    global interfaces ifbases ifmethods current
    if {[info exists ifbases($name)]} { fail "interface $name twice" }
    foreach b $bases {
        if {![info exists ifbases($b)]} { fail "interface $name: base $b not declared before it" }
    }
    lappend interfaces $name
    set ifbases($name) $bases
    set ifmethods($name) {}
    set current $name
    eval $body
    set current ""
}

proc method {name result args} {
    global ifmethods current
    if {$current eq ""} { fail "method $name outside an interface" }
    set d [parse_entry method $current.$name $result $args]
    dict set d name $name
    lappend ifmethods($current) $d
}

proc function {name result args} {
    global functions current
    if {$current ne ""} { fail "function $name inside an interface" }
    lappend functions [parse_entry function $name $result $args]
}

# ---- C++ spelling -----------------------------------------------------------

proc iface_of {k} { string range $k 4 end }

# The type a message names for a parameter kind.
proc decl_of {k} {
    if {[string match obj:* $k]} { return "vek::[iface_of $k] *" }
    return [dict get {
        bool bool int int uint {unsigned int} ushort {unsigned short} uchar {unsigned char}
        long long ulong {unsigned long} ll {long long} ull {unsigned long long}
        float float double double text {char const *} owned_text {char *}
        utf16 {char16_t const *} data {void const *} voidp {void *} voidpp {void **}
        loader vek_script_file_load_function handler_fn vek_event_function
    } $k]
}

proc runtime_kind {k} {
    if {[string match obj:* $k]} { return object }
    return [dict get {
        void none bool b int i32 uchar u8 ushort u16 uint u32 long i64 ll i64 ulong u64 ull u64
        float f32 double f64 text text heap_text heap_text owned_text owned_text utf16 utf16
        heap_utf16 heap_utf16 data data voidp voidp voidpp voidpp loader loader
        handler_fn handler_fn tclobj tclobj
    } $k]
}

# The index in the type table of a kind's type, or "" for none.
proc type_ref {k} {
    global type_index
    if {[string match obj:* $k]} {
        set i [iface_of $k]
        if {![info exists type_index($i)]} { fail "unknown interface $i" }
        return "&k_types\[$type_index($i)\]"
    }
    switch -- $k {
        data - voidp { return "&k_types\[$type_index(_p_void)\]" }
        voidpp { return "&k_types\[$type_index(_p_p_void)\]" }
        loader { return "&k_types\[$type_index(loader)\]" }
        handler_fn { return "&k_types\[$type_index(handler)\]" }
    }
    return nullptr
}

# The C++ expression for argument i of kind k.
proc arg_expr {k i} {
    if {[string match obj:* $k]} { return "static_cast<vek::[iface_of $k]*>(a\[$i\].p)" }
    return [string map [list @ $i] [dict get {
        bool {a[@].b} int {static_cast<int>(a[@].i)} uchar {static_cast<unsigned char>(a[@].u)}
        ushort {static_cast<unsigned short>(a[@].u)} uint {static_cast<unsigned int>(a[@].u)}
        long {static_cast<long>(a[@].i)} ll {a[@].i} ulong {static_cast<unsigned long>(a[@].u)}
        ull {a[@].u} float {static_cast<float>(a[@].d)} double {a[@].d} text {a[@].s}
        owned_text {a[@].hs} utf16 {a[@].w} data {static_cast<const void*>(a[@].p)}
        voidp {a[@].p} voidpp {static_cast<void**>(a[@].p)}
        loader {reinterpret_cast<vek_script_file_load_function>(a[@].p)}
        handler_fn {vek_event_function(nullptr)}
    } $k]]
}

# Stores `call` into the result slot by kind.
proc store_result {k call} {
    if {[string match obj:* $k]} { return "r->p = static_cast<vek::[iface_of $k]*>($call);" }
    switch -- $k {
        void { return "$call;" }
        bool { return "r->b = $call;" }
        int - long - ll { return "r->i = $call;" }
        uchar - ushort - uint - ulong - ull { return "r->u = $call;" }
        float - double { return "r->d = $call;" }
        text { return "r->s = $call;" }
        heap_text { return "r->hs = const_cast<char*>($call);" }
        heap_utf16 { return "r->hw = $call;" }
        voidp { return "r->p = const_cast<void*>(static_cast<const void*>($call));" }
        tclobj { return "r->p = $call;" }
    }
    fail "no result store for $k"
}

proc cstr {s} { return "\"[string map {\\ \\\\ \" \\\"} $s]\"" }

# ---- command records ----------------------------------------------------------

# Each command: dict with name fam params(list of {kind name default?})
# required varargs result owned hook call(C++ body) cls.
set commands {}

proc format_string {name params required varargs} {
    set letters ""
    set names {}
    set i 0
    foreach p $params {
        if {[lindex $p 0] eq "..."} continue
        if {$i == $required && $required < [llength $params]} { append letters | }
        append letters o
        if {$i >= $required} { lappend names "?[lindex $p 1]?" } else { lappend names [lindex $p 1] }
        incr i
    }
    if {$varargs} { lappend names ?...? }
    set sep [expr {$varargs ? ";" : ":"}]
    set text "$letters$sep$name "
    foreach n $names { append text "$n " }
    return $text
}

# The C++ argument expressions for params from index `first` on: all of
# them with defaults for the missing ones (functions, `fixed` empty), or
# exactly the first `fixed` (one overload of a method).
proc call_args {params first fixed} {
    set args {}
    set i $first
    foreach p [lrange $params $first end] {
        lassign $p k n def
        if {$k eq "..."} break
        if {$fixed ne "" && $i >= $fixed} break
        set e [arg_expr $k $i]
        if {[llength $p] == 3 && $fixed eq ""} {
            set e "(n > $i ? $e : ($def))"
        }
        lappend args $e
        incr i
    }
    return $args
}

proc add_command {d} {
    global commands
    lappend commands $d
}

proc method_commands {iface m} {
    set name "${iface}_[dict get $m name]"
    set params [concat [list [list obj:$iface self]] [dict get $m params]]
    set result [dict get $m result]
    set required 0
    foreach p $params { if {[llength $p] == 2} { incr required } }
    set base [dict create fam method iface $iface result $result owned [dict get $m owned]]
    set self [arg_expr obj:$iface 0]
    set counts [list [llength $params]]
    if {$required < [llength $params]} {
        set counts {}
        for {set c $required} {$c <= [llength $params]} {incr c} { lappend counts $c }
    }
    set variants {}
    foreach c $counts {
        switch -- [dict get $m hook] {
            addref { set call "vek_tcl_addref($self, true)" }
            release { set call "vek_tcl_release($self, true)" }
            default {
                set call "$self->[dict get $m name]([join [call_args $params 1 $c] {, }])"
            }
        }
        set v [dict merge $base [dict create name $name params [lrange $params 0 [expr {$c - 1}]] \
            required $c varargs 0 body [store_result $result $call]]]
        lappend variants $v
    }
    if {[llength $variants] == 1} {
        add_command [lindex $variants 0]
    } else {
        add_command [dict merge $base [dict create name $name params $params required $required \
            varargs 0 variants $variants]]
    }
}

proc function_command {f} {
    set name [dict get $f name]
    set callee [expr {[dict get $f calls] ne "" ? [dict get $f calls] : $name}]
    set params [dict get $f params]
    set varargs [expr {[lindex $params end] eq {... ...}}]
    set required 0
    foreach p $params { if {[llength $p] == 2 && [lindex $p 0] ne "..."} { incr required } }
    set args [call_args $params 0 ""]
    if {$varargs} {
        # The message is printed, never used as a format.
        set args [lreplace $args end end {"%s"} "vek::tcl::null_filled([lindex $args end]).c_str()"]
    }
    set fixed [expr {$varargs ? [llength $params] - 1 : [llength $params]}]
    add_command [dict create fam function name $name params [lrange $params 0 [expr {$fixed - 1}]] \
        required $required varargs $varargs result [dict get $f result] owned [dict get $f owned] \
        body [store_result [dict get $f result] "$callee\([join $args {, }])"]]
}

# ---- read the table ---------------------------------------------------------------

if {[llength $argv] ni {2 3}} { fail "usage: tclsh gen_tcl_binding.tcl TABLE OUT-DIR ?INTRO?" }
lassign $argv table_file out_dir intro_file
if {[catch {source $table_file} err]} { fail "$table_file: $err" }

# The type table: the interfaces, then the pointer types scripts pass.
set types {}
foreach i $interfaces {
    lappend types [list $i "_p_vek__$i" "vek::$i *"]
}
lappend types {_p_void _p_void {void *}} {_p_p_void _p_p_void {void **}} {_p_char _p_char {char *}}
lappend types {loader _p_f_p_q_const__char_p_q_const__void__p_char vek_script_file_load_function}
lappend types {handler _m_vek__i_event_handler__f_p_vek__i_event__bool vek_event_function}
set n 0
foreach t $types { set type_index([lindex $t 0]) $n; incr n }

set method_count 0
foreach i $interfaces {
    foreach m $ifmethods($i) {
        method_commands $i $m
        incr method_count
    }
}
set cast_count 0
foreach i $interfaces {
    if {$i in {i_object i_core}} continue
    add_command [dict create fam cast name vek_cast_$i params {{obj:i_object obj}} required 1 varargs 0 \
        result obj:$i owned 0 cast 1 body "r->p = vek_cast_$i\([arg_expr obj:i_object 0]);"]
    incr cast_count
}
foreach i $interfaces {
    add_command [dict create fam del name delete_$i params [list [list obj:$i self]] required 1 \
        varargs 0 result void owned 0 body "vek_tcl_release([arg_expr obj:$i 0], true);"]
}
foreach i $interfaces {
    add_command [dict create fam cls name $i params {} required 0 varargs 0 result void owned 0 body ""]
}
foreach f $functions { function_command $f }

set owned 0
foreach c $commands { incr owned [dict get $c owned] }
set got [list interfaces [llength $interfaces] methods $method_count casts $cast_count \
    deletes [llength $interfaces] classes [llength $interfaces] functions [llength $functions] owned $owned]
if {$got ne $expected} { fail "the table has $got, the package needs $expected" }
if {[llength $commands] != 401} { fail "[llength $commands] commands, the package needs 401" }

# ---- write binding_tables.cpp ------------------------------------------------------

set out {}
proc emit {line} { global out; append out $line \n }

emit "// Generated by scripts/gen_tcl_binding.tcl from binding_table.tcl. Do not edit."
emit "#include \"script/tcl_binding/binding.h\""
emit "#include \"vek/vek_core.h\""
emit ""
emit "namespace vek \{"
emit "namespace tcl \{"
emit ""
emit "extern const class_record k_classes\[\];"
emit ""
emit "namespace \{"
emit ""
# i_object conversions and base links.
proc all_bases {i} {
    global ifbases
    set seen {}
    set queue $ifbases($i)
    while {[llength $queue]} {
        set b [lindex $queue 0]
        set queue [lrange $queue 1 end]
        if {$b in $seen} continue
        lappend seen $b
        lappend queue {*}$ifbases($b)
    }
    return $seen
}
foreach i $interfaces {
    emit "i_object* obj_$i\(void* p) \{ return static_cast<i_object*>(static_cast<$i*>(p)); \}"
    set links {}
    foreach b [all_bases $i] {
        emit "void* up_${i}__$b\(void* p) \{ return static_cast<$b*>(static_cast<$i*>(p)); \}"
        lappend links "\{&k_types\[$type_index($b)\], up_${i}__$b\}"
    }
    if {[llength $links]} {
        emit "const base_link bases_$i\[\] = \{[join $links {, }]\};"
    }
}
emit ""
# Shims and command records.
set cindex 0
proc param_defs {c id} {
    set defs {}
    foreach p [dict get $c params] {
        set k [lindex $p 0]
        lappend defs "\{kind::[runtime_kind $k], [type_ref $k], [cstr [decl_of $k]]\}"
    }
    if {![llength $defs]} { return nullptr }
    emit "const param_def params_$id\[\] = \{[join $defs {, }]\};"
    return params_$id
}
proc command_record {c id} {
    global type_index
    set pdefs [param_defs $c $id]
    set fam [dict get {method method function function cast cast del del cls cls} [dict get $c fam]]
    set result [dict get $c result]
    set hook hook_none
    if {[dict get $c owned]} { set hook hook_owned }
    if {[dict exists $c cast]} { set hook hook_cast }
    set call nullptr
    if {[dict exists $c body] && [dict get $c fam] ne "cls"} {
        emit "void call_$id\(value* a, int n, value* r) \{ [dict get $c body] \}"
        set call call_$id
    }
    set overloads nullptr
    set ocount 0
    if {[dict exists $c variants]} {
        set refs {}
        set j 0
        foreach v [dict get $c variants] {
            command_record $v ${id}_$j
            lappend refs "&cmd_${id}_$j"
            incr j
        }
        emit "const command_def* const overloads_$id\[\] = \{[join $refs {, }]\};"
        set overloads overloads_$id
        set ocount [llength $refs]
    }
    set format ""
    if {[dict get $c fam] ne "cls"} {
        set format [format_string [dict get $c name] [dict get $c params] [dict get $c required] [dict get $c varargs]]
    }
    set ::format_of([dict get $c name]) $format
    set cls nullptr
    if {[dict get $c fam] eq "cls"} { set cls "&k_classes\[$type_index([dict get $c name])\]" }
    emit "const command_def cmd_$id = \{[cstr [dict get $c name]], [cstr $format], family::$fam, $pdefs,\
[llength [dict get $c params]], [dict get $c required], [expr {[dict get $c varargs] ? "true" : "false"}],\
kind::[runtime_kind $result], [expr {$result eq "void" ? "nullptr" : [type_ref $result]}], $hook, $call, $overloads, $ocount, $cls\};"
}
foreach c $commands {
    command_record $c $cindex
    set cmd_id([dict get $c name]) $cindex
    incr cindex
}
emit ""
# Class records: the method tables in table order.
foreach i $interfaces {
    set entries {}
    foreach m $ifmethods($i) {
        set mname [dict get $m name]
        lappend entries "\{[cstr $mname], &cmd_$cmd_id(${i}_$mname)\}"
    }
    emit "const method_entry methods_$i\[\] = \{[join $entries {, }]\};"
    set brefs {}
    foreach b $ifbases($i) { lappend brefs "&k_classes\[$type_index($b)\]" }
    if {[llength $brefs]} {
        emit "const class_record* const class_bases_$i\[\] = \{[join $brefs {, }]\};"
    }
}
emit ""
emit "\}  // namespace"
emit ""
set recs {}
foreach i $interfaces {
    set bases [expr {[llength $ifbases($i)] ? "class_bases_$i" : "nullptr"}]
    lappend recs "\{[cstr $i], &k_types\[$type_index($i)\], methods_$i, [llength $ifmethods($i)], $bases, [llength $ifbases($i)]\}"
}
emit "const class_record k_classes\[\] = \{\n    [join $recs ",\n    "]\};"
emit ""
set trecs {}
foreach t $types {
    lassign $t key tname decl
    if {[info exists ifbases($key)]} {
        set nb [llength [all_bases $key]]
        set bases [expr {$nb ? "bases_$key" : "nullptr"}]
        lappend trecs "\{[cstr $tname], [cstr $decl], &k_classes\[$type_index($key)\], obj_$key, $bases, $nb\}"
    } else {
        lappend trecs "\{[cstr $tname], [cstr $decl], nullptr, nullptr, nullptr, 0\}"
    }
}
emit "const type_info k_types\[\] = \{\n    [join $trecs ",\n    "]\};"
emit "const int k_type_count = [llength $types];"
emit ""
set crefs {}
for {set j 0} {$j < $cindex} {incr j} { lappend crefs "&cmd_$j" }
emit "const command_def* const k_commands\[\] = \{\n    [join $crefs ",\n    "]\};"
emit "const int k_command_count = $cindex;"
emit ""
emit "\}  // namespace tcl"
emit "\}  // namespace vek"

proc write_if_changed {path text} {
    if {[file exists $path]} {
        set f [open $path r]
        set old [read $f]
        close $f
        if {$old eq $text} return
    }
    set f [open $path w]
    puts -nonewline $f $text
    close $f
}

file mkdir $out_dir
write_if_changed [file join $out_dir binding_tables.cpp] $out

# ---- commands.tcl and the reference ------------------------------------------------

set list {}
set ref ""
if {$intro_file ne ""} {
    set f [open $intro_file r]
    set ref "[read $f]\n"
    close $f
}
append ref "## Command list\n\nGenerated from binding_table.tcl. Each line: command, family,\
 format string (argument names; optional ones between question marks).\n\n"
append ref "| command | family | format |\n|---|---|---|\n"
foreach c $commands {
    set name [dict get $c name]
    set fam [dict get {method method function function cast cast del delete cls class} [dict get $c fam]]
    set format $format_of($name)
    if {[dict exists $c variants]} {
        set format [format_string $name [dict get $c params] [llength [dict get $c params]] 0]
    }
    append list [list command $name $fam $format] \n
    set shown [string map {| \\|} $format]
    if {[dict get $c owned]} { append fam ", owned result" }
    append ref "| `$name` | $fam | `$shown` |\n"
}
write_if_changed [file join $out_dir commands.tcl] $list
write_if_changed [file join $out_dir command_reference.md] $ref
