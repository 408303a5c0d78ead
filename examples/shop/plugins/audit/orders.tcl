# The audit plug-in's record of orders: one line per order in
# ${SHOP_DATA}/orders.log. Each order is one append of one short line, so
# orders from several worker threads never mix.
namespace eval ::shop {
    proc record_order {product quantity} {
        set f [open [file join $::env(SHOP_DATA) orders.log] a]
        ::puts $f "[clock format [clock seconds] -format {%Y-%m-%d %H:%M:%S} -gmt 1] $product $quantity"
        close $f
    }
}
