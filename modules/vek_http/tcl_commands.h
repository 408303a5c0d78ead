// The Tcl package "vek_http": the commands a site's scripts use.
//
//   vek_http::route METHOD PATTERN COMMAND   answer METHOD PATTERN with
//                                            COMMAND ::vek_http::req
//   vek_http::static PREFIX DIRECTORY        serve DIRECTORY's files below
//                                            PREFIX (see static_files.h)
//   vek_http::handlers FILE                  FILE runs in every engine, the
//                                            workers' included (it defines
//                                            the handlers' procedures)
//   ::vek_http::req SUBCOMMAND ...           the request being answered:
//       method, path, header NAME, headers, query ?NAME?, cookie NAME,
//       cookies, param NAME, form ?NAME?, body, lang; and the answer:
//       respond STATUS BODY ?CONTENT-TYPE?, file PATH, set_header NAME VALUE,
//       redirect URL ?STATUS?
//
// A handler that answers nothing answers 200 with its result as an HTML
// body; one that raises an error answers 500, and the error is logged.
#ifndef VEK_HTTP_TCL_COMMANDS_H
#define VEK_HTTP_TCL_COMMANDS_H

#include <tcl.h>

namespace vek {
namespace http {

// Creates the commands in `interp`; TCL_ERROR for a null interpreter.
int create_tcl_commands(Tcl_Interp* interp);

}  // namespace http
}  // namespace vek

#endif
