# The storefront site. Sites start after every plug-in, once the module
# vek_http is loaded; its Tcl package is then present in every engine.
# The variables are those of a plug-in with the prefix site_.
if {[catch {package present vek_http} version]} {
    set site_error "the vek_http package is missing: $version"
} else {
    set site_status 1
}
