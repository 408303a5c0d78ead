# Sourced by every test file: loads the package into this tclsh, brings the
# framework up, and records which package commands returned TCL_OK, here
# and inside script engines (vt::eng). vt::finish ends the file. The sweep
# records nothing: its calls are not checks.
package require tcltest 2.2
namespace import ::tcltest::*

# vt::commands: name -> {family format}, from the generated list.
namespace eval vt {variable file [file rootname [file tail $::argv0]] commands {}}
set vt::root [file join [tcltest::temporaryDirectory] root_${vt::file}_[pid]]

# Defined here and in every engine vt::eng runs.
set vt::procs {
    proc svc {name} {i_core_get_service [vek_core] $name}
    # An object of the test module (tcltest_objects.cpp): udp, event, writer, reader or subst.
    proc make {kind} {i_object_factory_create_instance [vek_cast_i_object_factory [svc tcltest_factory]] [vek_create_string $kind]}
    # How many of the objects the test module made are alive.
    proc live {} {i_typed_object_get_id [vek_cast_i_typed_object [svc tcltest_factory]]}
    # For each handle: 1 while its command exists, else 0.
    proc cmds {args} {lmap h $args {llength [info commands $h]}}
    # Records in vt_hits the commands of `names` that return TCL_OK.
    proc hit {c cmd code args} {if {$code == 0} {dict set ::vt_hits $c 1}}
    proc cover {names} {foreach c $names {trace add execution ::$c leave [list hit $c]}}
}
eval $vt::procs

# Runs `body` in this thread's engine (one use: the engine is recycled
# afterwards) and returns its result or raises its error with its errorCode.
# The engine gets the same coverage traces as this interpreter.
proc vt::eng {body} {
    set e [i_script_service_get_script_engine [vek_cast_i_script_service [svc svc_script]]]
    i_script_engine_reset $e
    set ok [i_script_engine_execute_text $e $::vt::procs[string map [list @NAMES@ [dict keys $::vt::commands] @BODY@ $body] {
        if {![info exists ::vt_hits]} {cover {@NAMES@}}
        set ::vt_hits {}
        set code [catch {@BODY@} msg opts]
        puts "\x01[list $code $msg [dict get [dict merge {-errorcode {}} $opts] -errorcode] [dict keys $::vt_hits]]"
    }]]
    lassign [list [i_script_engine_get_output $e] [i_script_engine_get_error $e] [vek_release_orig $e]] out err
    if {!$ok} {return -code error "engine: $err"}
    lassign [lindex [split $out \x01] end] code msg ec hits
    foreach h $hits {dict set ::vt_hits $h 1}
    return -code [expr {$code == 1}] -errorcode $ec $msg
}

proc vt::finish {} {
    catch {eng {}}  ;# the last recycle gives back what scripts still hold
    vek_terminate
    if {[info exists ::env(VEK_TCL_COVERAGE_DIR)] && $::vt::file ne "sweep"} {
        file mkdir $::env(VEK_TCL_COVERAGE_DIR)
        set f [open [file join $::env(VEK_TCL_COVERAGE_DIR) $::vt::file.cov] w]; puts $f [dict keys $::vt_hits]; close $f
    }
    file delete -force $::vt::root
    set failed $::tcltest::numTests(Failed)
    cleanupTests
    exit [expr {$failed != 0}]
}

# A new reference (held by this script) to an object with each interface.
proc fresh {iface} {
    set h [eval [dict get {i_object {make writer} i_core vek_core i_object_col vek_create_col
        i_object_col_x vek_create_col i_named_object {vek_create_named_string n v} i_string {vek_create_string s}
        i_named_string {vek_create_named_string n v} i_typed_object {make udp} i_object_factory {svc tcltest_factory}
        i_md5_encoder {svc svc_md5_encoder} i_translator {svc svc_translator} i_time {vek_get_time 0}
        i_vek_library {i_object_col_get_item_by_name [i_core_get_libraries [vek_core]] vek_core}
        i_property_manager vek_create_property_manager i_binary {vek_str2bin 414243}
        i_binary_data_writer {make writer} i_binary_data_reader {make reader} i_xml_proc {svc svc_xml}
        i_xml_node {i_xml_proc_parse_text [vek_cast_i_xml_proc [svc svc_xml]] {<a x="1"><b/></a>}}
        i_event_proc {svc svc_event} i_event {make event} i_event_handler {svc tcltest_factory}
        i_script_service {svc svc_script} i_script_code {vek_create_script_code {set a 1}}
        i_script_engine {i_script_service_get_script_engine [vek_cast_i_script_service [svc svc_script]]}
        i_script_object_subsitutor {make subst} i_string_proc {svc svc_string} i_var_subst {svc tcltest_factory}
        i_stream {make udp} i_input_stream {make udp} i_output_stream {make udp} i_io_stream {make udp}
        i_inet_stream {make udp} i_udp_conn {make udp} i_encryptor {svc svc_encrypt}
        i_bin_parser {vek_create_bin_parser [i_binary_get_data [vek_str2bin 414243]] 3 1}} $iface]]
    if {$iface ni {i_object i_core i_script_engine}} {set h [vek_cast_$iface $h]}
    return $h
}

namespace eval vt::cmdfile {
    proc command {name family format} {dict set ::vt::commands $name [list $family $format]}
    source $::env(VEK_TCL_COMMANDS)
}
# tcl.coverage runs this file alone (VEK_TCL_CHECK set), after the test
# files: every command of the list must have returned TCL_OK in one of them.
if {[info exists env(VEK_TCL_CHECK)]} {
    set seen {}
    foreach f [glob -nocomplain -directory $env(VEK_TCL_COVERAGE_DIR) *.cov] {set ch [open $f]; lappend seen {*}[read $ch]; close $ch}
    set missing [lsort [lmap c [dict keys $vt::commands] {if {$c in $seen} continue; set c}]]
    puts "[dict size $vt::commands] commands, [llength $missing] never returned TCL_OK: $missing"
    exit [expr {[llength $missing] != 0}]
}
load $env(VEK_CORE_SO) Vek_core
set vt_hits {}
if {$vt::file ne "sweep"} {cover [dict keys $vt::commands]}
file mkdir $vt::root
set env(VEK_ROOT_PATH) $vt::root
set env(TZ) UTC
vek_set_trace_facility [file join $vt::root trace.log]
vek_initialize
i_core_load_library [vek_core] $env(VEK_CORE_SO)
i_core_load_library [vek_core] $env(VEK_TCLTEST_MODULE)
# The thread's first engine. Once it exists every object handed to a
# script in this thread is counted by it, this interpreter's included; the
# reference to the service taken before it existed is given back here.
vt::eng {vek_release_orig [i_core_get_service [vek_core] svc_script]}
set d [i_binary_get_data [vek_str2bin 313233]]   ;# data for the tests: "123"
