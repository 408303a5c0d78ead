# tcl.coverage: every command of the package's list must have returned
# TCL_OK in at least one test file. Usage: coverage_check.tcl LIST COVDIR
lassign $argv list dir
proc command {name args} {lappend ::all $name}
source $list
set seen {}
foreach f [glob -nocomplain -directory $dir *.cov] {set ch [open $f]; lappend seen {*}[read $ch]; close $ch}
set missing [lmap c $all {if {$c in $seen} continue; set c}]
puts "[llength $all] commands, [expr {[llength $all] - [llength $missing]}] covered"
if {[llength $missing]} {
    puts "never returned TCL_OK: [lsort $missing]"
    exit 1
}
