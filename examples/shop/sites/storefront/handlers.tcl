# The storefront's pages. Each handler gets the request command `r`; it
# answers with `$r respond`, `$r redirect`, or by returning the page.
# vek_translate without a language answers in the request's
# (Accept-Language); a language the shop has no texts for gets English.
source [file join $::env(VEK_ROOT_PATH) plugins catalog products.tcl]
source [file join $::env(VEK_ROOT_PATH) plugins audit orders.tcl]

namespace eval ::shop {
    proc html {text} { string map {& &amp; < &lt; > &gt; \" &quot;} $text }

    proc lang {r} { expr {[$r lang] eq "de" ? "de" : "en"} }

    proc price {cents} { format "%d.%02d EUR" [expr {$cents / 100}] [expr {$cents % 100}] }

    proc page {r title body} {
        return "<!DOCTYPE html>\n<html lang=\"[lang $r]\"><head><meta charset=\"utf-8\">\
            <title>[html $title]</title><link rel=\"stylesheet\" href=\"/static/style.css\"></head>\
            <body><header><img src=\"/static/logo.svg\" alt=\"\" width=\"32\" height=\"32\">\
            <a href=\"/\">[html [vek_translate "Welcome to the shop"]]</a></header>\
            <main><h1>[html $title]</h1>$body</main></body></html>\n"
    }

    proc catalogue {r} {
        variable products
        set items ""
        dict for {id p} $products {
            append items "<li><a href=\"/product/$id\">[html [dict get $p [lang $r]]]</a>\
                <span class=\"price\">[price [dict get $p price]]</span></li>"
        }
        page $r [vek_translate "Catalogue"] "<ul class=\"products\">$items</ul>"
    }

    proc product {r} {
        variable products
        set id [$r param id]
        if {![dict exists $products $id]} {
            $r respond 404 [page $r [vek_translate "No such product"] ""]
            return
        }
        set p [dict get $products $id]
        page $r [dict get $p [lang $r]] "<p class=\"price\">[price [dict get $p price]]</p>\
            <form method=\"post\" action=\"/order\"><input type=\"hidden\" name=\"product\" value=\"$id\">\
            <label>[html [vek_translate "Quantity"]] <input name=\"quantity\" type=\"number\" value=\"1\" min=\"1\" max=\"99\"></label>\
            <button>[html [vek_translate "Order"]]</button></form>"
    }

    proc order {r} {
        variable products
        set id [$r form product]
        set quantity [$r form quantity]
        if {![dict exists $products $id] || ![string is integer -strict $quantity] || $quantity < 1 || $quantity > 99} {
            $r respond 400 [page $r [vek_translate "No such product"] ""]
            return
        }
        record_order $id $quantity
        page $r [vek_translate "Thank you for your order"] "<p><a href=\"/\">[html [vek_translate "Back to the catalogue"]]</a></p>"
    }
}
