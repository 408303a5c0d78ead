# Sourced by every test file: loads the package into this tclsh, brings the
# framework up, and records which package commands returned TCL_OK, here
# and inside script engines (vt::eng). vt::finish ends the file.
package require tcltest 2.2
namespace import ::tcltest::*

namespace eval vt {
    variable file [file rootname [file tail $::argv0]]
    variable root [file join [tcltest::temporaryDirectory] root_${file}_[pid]]
    variable commands [dict create]  ;# name -> {family format}
    variable hits
    array set hits {}
}

proc vt::hit {name args} {
    if {[lindex $args 1] == 0} {set ::vt::hits($name) 1}
}

# The package's commands: from the generated list, or (before there is
# one) whatever loading the package added.
proc vt::load_package {} {
    variable commands
    set before [info commands]
    load $::env(VEK_CORE_SO) Vek_core
    set list $::env(VEK_TCL_COMMANDS)
    if {[file exists $list]} {
        namespace eval cmdfile {
            proc command {name family format} {dict set ::vt::commands $name [list $family $format]}
        }
        namespace eval cmdfile [list source $list]
    } else {
        foreach c [info commands] {
            if {$c ni $before && $c ne "NULL"} {dict set commands $c {{} {}}}
        }
    }
}

proc vt::trace_commands {} {
    foreach c [dict keys $::vt::commands] {
        if {[info commands ::$c] ne ""} {trace add execution ::$c leave [list ::vt::hit $c]}
    }
}

# Runs `body` in this thread's engine (one use: the engine is recycled
# afterwards) and returns its result or raises its error with its
# errorCode. The engine gets the same coverage traces as this interpreter.
proc vt::eng {body} {
    set svc [vek_cast_i_script_service [i_core_get_service [vek_core] svc_script]]
    set e [i_script_service_get_script_engine $svc]
    i_script_engine_reset $e
    set script [string map [list @NAMES@ [dict keys $::vt::commands] @BODY@ $body] {
        if {![info exists ::vt_cov_on]} {
            set ::vt_cov_on 1
            proc ::vt_hit {c args} {if {[lindex $args 1] == 0} {set ::vt_cov($c) 1}}
            foreach c {@NAMES@} {
                if {[info commands ::$c] ne ""} {trace add execution ::$c leave [list ::vt_hit $c]}
            }
        }
        set ::vt_code [catch {@BODY@} ::vt_msg ::vt_opts]
        set ::vt_ec [expr {[dict exists $::vt_opts -errorcode] ? [dict get $::vt_opts -errorcode] : ""}]
        puts "\x01[list $::vt_code $::vt_msg $::vt_ec [array names ::vt_cov]]"
        array unset ::vt_cov
    }]
    set ok [i_script_engine_execute_text $e $script]
    set out [i_script_engine_get_output $e]
    set err [i_script_engine_get_error $e]
    vek_release_orig $e
    if {!$ok} {return -code error "engine: $err"}
    lassign [lindex [split $out \x01] end] code msg ec hits
    foreach h $hits {set ::vt::hits($h) 1}
    if {$code == 1} {return -code error -errorcode $ec $msg}
    return $msg
}

# The message of a failing script; vt::errc adds its errorCode.
proc vt::err {script} {
    if {![catch {uplevel 1 $script} msg]} {return "no error: $msg"}
    return $msg
}
proc vt::errc {script} {
    if {![catch {uplevel 1 $script} msg opts]} {return "no error: $msg"}
    return [list $msg [dict get $opts -errorcode]]
}

proc vt::finish {} {
    variable hits
    catch {eng {}}  ;# the last recycle gives back what scripts still hold
    vek_terminate
    if {[info exists ::env(VEK_TCL_COVERAGE_DIR)] && $::vt::file ne "sweep"} {
        file mkdir $::env(VEK_TCL_COVERAGE_DIR)
        set f [open [file join $::env(VEK_TCL_COVERAGE_DIR) $::vt::file.cov] w]
        puts $f [join [lsort [array names hits]] \n]
        close $f
    }
    file delete -force $::vt::root
    set failed $::tcltest::numTests(Failed)
    cleanupTests
    exit [expr {$failed != 0}]
}

vt::load_package
if {![info exists ::vt_sweep]} {vt::trace_commands}
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
