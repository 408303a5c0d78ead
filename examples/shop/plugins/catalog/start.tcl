# The catalog plug-in. A start script runs in the namespace vek of the
# calling thread's script engine. The loader has set plugin_name,
# plugin_root (this directory), plugin_error ("") and plugin_status (0); the
# script succeeds by setting plugin_status to a non-zero integer, and on
# failure leaves it 0 and says why in plugin_error.
#
# The engine's own puts goes to its output buffer, so files are written
# with Tcl's ::puts.
if {[catch {
    file mkdir $::env(SHOP_DATA)
    set f [open [file join $::env(SHOP_DATA) $plugin_name.started] w]
    ::puts $f "$plugin_name started from $plugin_root"
    close $f
} message]} {
    set plugin_error "cannot write the marker file: $message"
} else {
    set plugin_status 1
}
