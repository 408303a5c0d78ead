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
#     tclobj       Tcl_Obj * (result only: the result itself)
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

interface i_object_col {i_object} {
    method get_count uint
    method get_item_by_pos obj:i_object -owned {uint pos}
    method get_item_by_id obj:i_object -owned {ll id}
    method get_item_by_name obj:i_object -owned {text name}
    method addref int -hook addref
    method release int -hook release
}

interface i_object_col_x {i_object_col} {
    method add_item void {obj:i_object item}
    method remove_item void {obj:i_object item}
    method reserve bool {uint size}
    method addref int -hook addref
    method release int -hook release
}

interface i_core {i_object} {
    method register_service bool {obj:i_object svc} {text svc_type}
    method unregister_service bool {text svc_type}
    method get_service obj:i_object -owned {text svc_type}
    method get_services obj:i_object_col -owned
    method load_library voidp {text library_path}
    method get_libraries obj:i_object_col -owned
}

interface i_named_object {i_object} {
    method get_name text
    method set_name bool {text name}
    method addref int -hook addref
    method release int -hook release
}

interface i_string {i_object} {
    method get_value text
    method set_value bool {text val}
    method concat void {text val}
    method concatn void {text val} {uint count}
    method detach heap_text
    method assign void {owned_text val}
    method reserve bool {uint size}
    method addref int -hook addref
    method release int -hook release
}

interface i_named_string {i_string i_named_object} {
    method addref int -hook addref
    method release int -hook release
}

interface i_typed_object {i_object} {
    method get_id ll
    method addref int -hook addref
    method release int -hook release
}

interface i_object_factory {i_object} {
    method create_instance obj:i_object -owned {obj:i_object conf_obj}
    method addref int -hook addref
    method release int -hook release
}

interface i_md5_encoder {i_named_object} {
    method encode_string heap_text {text src}
    method encode_data heap_text {data data} {uint data_length}
    method addref int -hook addref
    method release int -hook release
}

interface i_translator {i_named_object} {
    method translate text {text msg} {text language {""}}
    method set_language void {text language}
    method add_catalog void {text catalog}
    method add_search_path void {text path}
    method addref int -hook addref
    method release int -hook release
}

interface i_vek_library {i_named_object} {
    method get_path text
    method get_version text
    method get_handle voidp
    method addref int -hook addref
    method release int -hook release
}

interface i_time {i_object} {
    method get_year uint
    method set_year bool {uint val}
    method get_month uint
    method set_month bool {uint val}
    method get_day uint
    method set_day bool {uint val}
    method get_hour uint
    method set_hour bool {uint val}
    method get_minute uint
    method set_minute bool {uint val}
    method get_second uint
    method set_second bool {uint val}
    method get_absolute uint
    method set_absolute bool {uint val}
    method addref int -hook addref
    method release int -hook release
}

interface i_property_manager {i_object} {
    method set_object bool {text name} {obj:i_object obj}
    method get_object obj:i_object -owned {text name}
    method get_objects obj:i_object_col -owned
    method get_property text {text name}
    method set_property bool {text name} {text value}
    method get_properties obj:i_object_col -owned
    method addref int -hook addref
    method release int -hook release
}

interface i_binary {i_object} {
    method get_data voidp
    method get_data_size uint
    method set_data bool {data val} {uint size}
    method detach void
    method assign_data void {voidp data} {uint data_size}
    method addref int -hook addref
    method release int -hook release
}

interface i_binary_data_writer {i_object} {
    method allocate_block voidp {ushort type} {uint size}
    method enlarge_block voidp {uint incr_size}
    method get_data voidp
    method get_data_size uint
    method set_parent bool {obj:i_binary_data_writer parent} {ushort composite_type}
    method addref int -hook addref
    method release int -hook release
}

interface i_binary_data_reader {i_object} {
    method reset void
    method next bool
    method get_block_ptr voidp
    method get_block_size uint
    method get_block_type ushort
    method addref int -hook addref
    method release int -hook release
}

interface i_xml_proc {i_object} {
    method parse_text obj:i_xml_node -owned {text text}
    method parse_file obj:i_xml_node -owned {text file_path}
    method create_node obj:i_xml_node -owned {text name}
    method write_file bool {obj:i_xml_node node} {text file_path} {bool format}
    method addref int -hook addref
    method release int -hook release
}

interface i_xml_node {i_named_object} {
    method get_text text
    method set_text bool {text text}
    method get_attributes obj:i_object_col -owned
    method get_attribute text {text name}
    method set_attribute bool {text name} {text value}
    method delete_attribute bool {text name}
    method get_child_nodes obj:i_object_col -owned
    method add_child bool {obj:i_xml_node node} {obj:i_xml_node prev_child nullptr}
    method insert_child bool {obj:i_xml_node node} {int pos}
    method remove_child bool {obj:i_xml_node node}
    method get_parent_node obj:i_xml_node -owned
    method get_xml heap_text {bool format}
    method select_nodes obj:i_object_col -owned {text xpath}
    method select_single_node obj:i_xml_node -owned {text xpath}
    method create_copy obj:i_xml_node -owned {bool recursive}
    method addref int -hook addref
    method release int -hook release
}

interface i_event_proc {i_object} {
    method get_event_type uint {text event_type_string}
    method install_handler void {uint event_type} {ll object_id} {obj:i_event_handler handler} {handler_fn callback}
    method uninstall_handler void {uint event_type} {ll object_id} {obj:i_event_handler handler} {handler_fn callback}
    method fire_event void {obj:i_event event} {bool fire_immediately}
    method addref int -hook addref
    method release int -hook release
}

interface i_event {i_object} {
    method get_event_id ll
    method get_event_type uint
    method get_event_object obj:i_object -owned
    method addref int -hook addref
    method release int -hook release
}

interface i_event_handler {i_object} {
    method addref int -hook addref
    method release int -hook release
}

interface i_script_service {i_object} {
    method get_script_engine obj:i_script_engine -owned
    method add_init_file bool {text file_path}
    method add_init_cmd bool {text cmd_text}
    method addref int -hook addref
    method release int -hook release
}

interface i_script_engine {i_object} {
    method execute_text bool {text code}
    method execute_file bool {text path} {loader func nullptr} {data fparam nullptr}
    method execute_code bool {obj:i_script_code code}
    method register_object bool {obj:i_object obj} {text obj_name} {text cast_func}
    method get_output text
    method get_error text
    method get_error_line int
    method reset void
    method puts_impl void {text text}
    method get_registration_object obj:i_object -owned
    method addref int -hook addref
    method release int -hook release
}

interface i_script_code {i_object} {
    method get_thread_id uint
    method set_text bool {text text}
    method get_compiled_code tclobj
    method addref int -hook addref
    method release int -hook release
}

interface i_script_object_subsitutor {i_object} {
    method get_object_pointer obj:i_object -owned
    method addref int -hook addref
    method release int -hook release
}

interface i_string_proc {i_object} {
    method process heap_text {text src} {obj:i_var_subst var_subst}
    method get_global_var_substs obj:i_object_col_x -owned
    method addref int -hook addref
    method release int -hook release
}

interface i_var_subst {i_object} {
    method get_variable_value heap_text {text variable}
    method addref int -hook addref
    method release int -hook release
}

interface i_stream {i_typed_object} {
    method disconnect bool
    method is_connected bool
    method lock bool {uint to}
    method unlock void
    method bg_task bool
    method get_start_time uint
    method addref int -hook addref
    method release int -hook release
}

interface i_input_stream {i_stream} {
    method get_last_comm_time uint
    method get_in_buffer_size uint
    method get_text heap_text {text delim} {bool rem}
    method get_byte uchar {bool rem}
    method get_binary obj:i_binary -owned {uint max_size} {bool rem}
    method set_in_buffer_timeout bool {int timeout}
    method remove_in_buffer_data bool {uint data_size}
    method addref int -hook addref
    method release int -hook release
}

interface i_output_stream {i_stream} {
    method put_text bool {text data}
    method put_byte bool {uchar data}
    method put_binary bool {data data} {uint data_size}
    method set_out_buffer_timeout bool {uint timeout}
    method flush_out_buffer void
    method addref int -hook addref
    method release int -hook release
}

interface i_io_stream {i_input_stream i_output_stream} {
    method addref int -hook addref
    method release int -hook release
}

interface i_inet_stream {i_io_stream} {
    method get_host text
    method get_port ushort
    method addref int -hook addref
    method release int -hook release
}

interface i_udp_conn {i_inet_stream} {
    method get_client_port ushort
    method addref int -hook addref
    method release int -hook release
}

interface i_bin_parser {i_object} {
    method set_offset bool {uint val} {uint start_bit 0}
    method get_offset uint
    method get_start_bit uint
    method get_unparsed_size uint
    method get_int ll {uint offset} {uint size} {bool invert false} {bool incr_offset false}
    method get_float float {uint offset} {bool invert false} {bool incr_offset false}
    method get_double double {uint offset} {bool invert false} {bool incr_offset false}
    method get_byte uchar {uint offset} {bool incr_offset false}
    method get_bits ull {uint offset} {uint bit_count} {bool incr_offset false}
    method get_text text {uint offset} {bool incr_offset false}
    method get_text2 heap_text {uint offset} {uint size} {bool incr_offset false}
    method addref int -hook addref
    method release int -hook release
}

interface i_encryptor {i_object} {
    method encrypt obj:i_binary -owned {data data} {ulong data_size} {data key} {uint key_size} {uchar method}
    method decrypt obj:i_binary -owned {data data} {ulong data_size} {data key} {uint key_size} {uchar method}
    method encrypt_string heap_text {text data} {text key} {uchar method}
    method decrypt_string heap_text {text data} {text key} {uchar method}
    method addref int -hook addref
    method release int -hook release
}

function vek_core obj:i_core
function vek_release_orig void -calls vek::tcl::plain_release {obj:i_object obj}
function vek_initialize bool
function vek_terminate void
function vek_load_config bool {text file_path}
function vek_get_absolute_path heap_text {text rel_path}
function vek_translate text {text msg} {text lang {""}}
function vek_get_time obj:i_time -owned {uint absolute}
function vek_construct_time obj:i_time -owned {uint year} {uint month} {uint day} {uint hour} {uint minute} {uint second} {bool calc_from_utc false}
function vek_calc_time uint {uint year} {uint month} {uint day} {uint hour} {uint minute} {uint second} {bool calc_from_utc false}
function vek_local_timezone int
function vek_timezone_dst int
function vek_format_time heap_text {uint tmval} {int tz_offset} {uint flags 3}
function sleepms void {uint ms}
function vek_trace void {text msg} ...
function vek_log void {uint log_level} {text msg} ...
function vek_enable_trace void {bool enable}
function vek_set_log_level void {uint level}
function vek_set_log_facility void {text facility}
function vek_get_log_facility text
function vek_set_trace_facility void {text facility}
function vek_get_trace_facility text
function vek_text_encode heap_text {text text}
function vek_text_decode heap_text {text text}
function vek_read_file heap_text {text file_path}
function vek_write_file bool {text file_path} {text data} {bool append false}
function vek_read_binary_file obj:i_binary -owned {text file_path}
function vek_write_binary_file bool {text file_path} {data data} {uint data_size} {bool append false}
function vek_dir_exists bool {text pathname}
function vek_file_exists bool {text pathname}
function vek_create_col obj:i_object_col_x -owned
function vek_create_string obj:i_string -owned {text val}
function vek_create_named_string obj:i_named_string -owned {text name} {text val}
function vek_create_property_manager obj:i_property_manager -owned
function vek_wildcmp int {text wild} {text val}
function vek_wildicmp bool {text wild} {text val}
function vek_wildcmp_list bool {text filter} {text value}
function vek_wildicmp_list bool {text filter} {text value}
function vek_scan_dir obj:i_object_col -owned {text dir} {text file_spec} {int target_type}
function vek_split_path obj:i_object_col -owned {text paths}
function vek_get_days_in_year uint {uint year}
function vek_get_days_in_month uint {uint m} {uint y}
function vek_get_next_id ll
function vek_library_loaded bool {text lib_name}
function vek_bin2str heap_text {data data} {uint data_size}
function vek_str2bin obj:i_binary -owned {text str}
function vek_temp_path text
function vek_make_path bool {text path}
function vek_crc32 uint {data data} {uint data_size} {uint start_val 0}
function vek_crc16 ushort {data data} {uint data_size} {ushort start_val 0x1973}
function vek_is_running bool
function vek_get_curr_time uint
function vek_sort_col obj:i_object_col -owned {obj:i_object_col src_col} {bool ascending}
function vek_load_environment bool {text path}
function vek_load_plugin bool {text plugin_name}
function vek_load_site bool {text site_name}
function vek_init_app bool {text env_path}
function vek_fire_event void {obj:i_event evt} {bool fire_immediately}
function vek_generate_event void {text event_type} {ll event_id} {obj:i_object event_object} {bool fire_immediately}
function vek_install_handler void {text event_type} {ll object_id} {obj:i_event_handler handler} {handler_fn callback}
function vek_uninstall_handler void {text event_type} {ll object_id} {obj:i_event_handler handler} {handler_fn callback}
function _vek_get_script_engine obj:i_script_engine -owned {long addr}
function vek_create_script_code obj:i_script_code -owned {text text}
function vek_release int -calls vek_release_script_object {obj:i_object obj}
function vek_iconv_to_int heap_text {text data}
function vek_iconv_to_ext heap_text {text data}
function vek_set_local_charset bool {text chs}
function vek_get_local_charset text
function vek_iconv_to_utf16 heap_utf16 {text data}
function vek_iconv_from_utf16 heap_text {utf16 data}
function vek_register_stream void {obj:i_stream stream}
function vek_create_bin_parser obj:i_bin_parser -owned {data data} {uint data_size} {bool copy false}
function vek_get_status obj:i_xml_node -owned
function vek_get_last_error text
