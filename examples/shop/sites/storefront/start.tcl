# The storefront site. Sites start after every plug-in, once the module
# vek_http is loaded; its Tcl package is then present in every engine.
# The variables are those of a plug-in with the prefix site_.
#
# The handlers are procedures in handlers.tcl, which vek_http::handlers
# makes every engine run, those of the server's worker threads included.
if {[catch {
    package present vek_http
    vek_http::handlers [file join $site_root handlers.tcl]
    vek_http::static /static [file join $site_root www]
    vek_http::route GET / ::shop::catalogue
    vek_http::route GET /product/:id ::shop::product
    vek_http::route POST /order ::shop::order
} message]} {
    set site_error "the storefront cannot start: $message"
} else {
    set site_status 1
}
