# The catalogue the catalog plug-in keeps: each product's names in the
# shop's languages and its price in cents. The storefront's handlers read
# it in every engine they run in.
namespace eval ::shop {
    variable products {
        tea {en "Green tea" de "Gr\u00fcner Tee" price 450}
        mug {en "Tea mug" de "Teebecher" price 1200}
        pot {en "Tea pot" de "Teekanne" price 3900}
    }
}
