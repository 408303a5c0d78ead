# The audit plug-in: starts after catalog (the order of VEK_PLUGINS_LIST)
# and records which plug-ins had started before it.
if {[catch {
    set started [glob -nocomplain -tails -directory $::env(SHOP_DATA) *.started]
    set f [open [file join $::env(SHOP_DATA) $plugin_name.started] w]
    ::puts $f "$plugin_name started after: [lsort $started]"
    close $f
} message]} {
    set plugin_error "cannot write the marker file: $message"
} else {
    set plugin_status 1
}
