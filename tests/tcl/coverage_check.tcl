# tcl.coverage: every command of the package's list must have returned
# TCL_OK in at least one test file. Usage: coverage_check.tcl LIST COVDIR
lassign $argv list dir
proc command {name family format} {lappend ::all $name}
set all {}
source $list
set seen [dict create]
foreach f [glob -nocomplain -directory $dir *.cov] {
    set ch [open $f]
    foreach name [split [read $ch] \n] {if {$name ne ""} {dict set seen $name 1}}
    close $ch
}
set missing [lmap c $all {if {[dict exists $seen $c]} continue; set c}]
puts "[llength $all] commands, [expr {[llength $all] - [llength $missing]}] covered"
if {[llength $missing]} {
    puts "never returned TCL_OK: [join [lsort $missing] { }]"
    exit 1
}
