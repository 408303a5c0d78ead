# The commands of the Tcl package "vek_core", as data.
#
# scripts/gen_tcl_binding.tcl reads this file and writes the command tables,
# the call shims and the command reference into the build tree. Edit this
# file, never the generated ones.
#
# interface NAME {BASE ...} { METHOD-LINE ... }
#     Interfaces in the order of the package's type table; bases in
#     declaration order. Each interface gets a cast command (except i_object
#     and i_core), a delete command and a class command.
#
# method NAME RESULT ?OPTION ...? ?PARAM ...?
#     One line per method of the interface, in the order of its method
#     table. A method with default arguments becomes an overload set chosen
#     by the number of arguments.
#
# function TCL-NAME RESULT ?OPTION ...? ?PARAM ...?
#     An exported function. Parameters with defaults are optional (after a
#     bar in the format string); a last parameter "..." admits further
#     arguments (after a semicolon), which are ignored.
#
# RESULT and parameter kinds:
#     void bool int uint ushort uchar long ulong ll ull float double
#     text         char const *                 (result: copied)
#     heap_text    char * the caller frees      (result only)
#     owned_text   char * the operation keeps   (parameter only)
#     utf16        char16_t const *              (parameter only)
#     heap_utf16   char16_t * the caller frees  (result only)
#     data         void const *                 (parameter only)
#     voidp        void *
#     voidpp       void **
#     loader       vek_script_file_load_function (parameter only)
#     handler_fn   vek_event_function           (parameter only)
#     obj:IFACE    vek::IFACE *
#
# OPTIONS
#     -owned       the result is a reference the caller owns: the script
#                  takes it over
#     -hook H      addref / release: the call is the engine's tracked
#                  addref or release instead of the method
#     -calls NAME  the C++ function called, when it is not TCL-NAME
#
# PARAM: {KIND NAME ?DEFAULT?}, DEFAULT a C++ expression; or "..." alone.

interface i_object {} {
    method get_interface bool {text iface_name} {voidpp pp_obj}
    method addref int -hook addref
    method release int -hook release
}

function vek_crc32 uint {data data} {uint data_size} {uint start_val 0}
function vek_log void {uint log_level} {text msg} ...
function vek_release int -calls vek_release_script_object {obj:i_object obj}
function vek_release_orig void -calls vek_release {obj:i_object obj}
