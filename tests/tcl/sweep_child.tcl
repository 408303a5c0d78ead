# Run by sweep.test in a tclsh of its own: calls every command of the
# package with missing, surplus and bad arguments, and with real objects as
# self, from call number FIRST on. Writes each call to LOG before making
# it, so a crash names its call, and the errors that are not argument
# errors after it. Usage: sweep_child.tcl LOG FIRST
set ::vt_sweep 1
lassign $argv log_path first
set argv {}  ;# not options for tcltest
source [file join [file dirname [info script]] support.tcl]
set log [open $log_path w]
fconfigure $log -buffering line
set n 0

# One real object per interface, made after the thread's first engine so
# that it counts them.
proc svc {name} {i_core_get_service [vek_core] $name}
set fac [svc tcltest_factory]
proc make {kind} {i_object_factory_create_instance [vek_cast_i_object_factory $::fac] [vek_create_string $kind]}
set s [vek_create_named_string n v]
set col [vek_create_col]
i_object_col_x_add_item $col $s
set udp [make udp]
set xp [vek_cast_i_xml_proc [svc svc_xml]]
set so [svc svc_script]
set pool [dict create i_object $s i_object_col $col i_object_col_x $col i_core [vek_core] \
    i_named_object $s i_string $s i_named_string $s i_time [vek_get_time 86400] \
    i_property_manager [vek_create_property_manager] i_binary [vek_str2bin 414243] \
    i_xml_proc $xp i_xml_node [i_xml_proc_parse_text $xp {<a x="1"><b/></a>}] \
    i_script_code [vek_create_script_code {set a 1}] \
    i_bin_parser [vek_create_bin_parser [i_binary_get_data [vek_str2bin 414243]] 3 1] \
    i_script_engine [i_script_service_get_script_engine [vek_cast_i_script_service $so]]]
foreach {iface obj} [list i_object_factory $fac i_var_subst $fac i_event_handler $fac i_md5_encoder [svc svc_md5_encoder] \
        i_translator [svc svc_translator] i_event_proc [svc svc_event] i_script_service $so i_string_proc [svc svc_string] \
        i_encryptor [svc svc_encrypt] i_typed_object $udp i_stream $udp i_input_stream $udp i_output_stream $udp \
        i_io_stream $udp i_inet_stream $udp i_udp_conn $udp i_binary_data_writer [make writer] \
        i_binary_data_reader [make reader] i_event [make event] \
        i_vek_library [i_object_col_get_item_by_name [i_core_get_libraries [vek_core]] tcltest_objects]] {
    dict set pool $iface [vek_cast_$iface $obj]
}

# Never called: they end the framework, write or load files, or start
# packages. Methods that give up or unbalance references are called with
# bad arguments only, never on a real object.
set skip {vek_terminate vek_write_file vek_write_binary_file vek_make_path vek_init_app vek_load_plugin vek_load_site
    vek_load_config vek_load_environment i_core_load_library sleepms}
set no_self {*_release *_addref *_detach i_script_service_get_script_engine}

# Every object's get_interface with a null out-pointer.
proc null_queries {} {
    dict for {iface obj} $::pool {call i_object_get_interface $obj $iface NULL}
}

proc call {args} {
    if {[incr ::n] < $::first} return
    puts $::log [list call $::n $args]
    set code [catch {uplevel #0 $args} msg]
    if {$code && ![regexp {^(Wrong number of arguments|Wrong # args\.|TypeError in method|OverflowError in method|Invalid operation over 'NULL' object |No constructor available\.|No matching function for overloaded)} $msg]} {
        puts $::log [list odd $::n "$args -> $msg"]
    }
}

dict for {name entry} $vt::commands {
    lassign $entry family format
    if {$name in $skip} continue
    regexp {^([o|]*)[:;]} $format -> letters
    set max [string length [string map {| ""} $letters]]
    call $name
    call $name {*}[lrepeat [expr {$max + 1}] x]
    if {$max == 0} continue
    call $name {*}[lrepeat $max NULL]
    call $name {*}[lrepeat $max x]
    if {$family ne "method" || [llength [lmap p $no_self {if {![string match $p $name]} continue; set p}]]} continue
    set iface ""
    foreach k [dict keys $pool] {
        if {[string match ${k}_* $name] && [string length $k] > [string length $iface]} {set iface $k}
    }
    if {$iface eq "" || $max < 2} {
        if {$iface ne ""} {call $name [dict get $pool $iface]}
        continue
    }
    call $name [dict get $pool $iface] {*}[lrepeat [expr {$max - 1}] NULL]
    call $name [dict get $pool $iface] {*}[lrepeat [expr {$max - 1}] x]
}
null_queries
vek_release_orig [dict get $pool i_script_engine]
catch {vt::eng {}}
vek_terminate
puts $log end
close $log
file delete -force $vt::root
exit 0
