// Checks a module's file without loading it: an ELF shared object of the
// running program's class and machine that defines a given function in its
// dynamic symbol table. Reads the file; never maps or runs it. Written for
// 64-bit programs, the only kind this host is built as.
#ifndef VEKHOST_MODULE_FILE_H
#define VEKHOST_MODULE_FILE_H

#include <string>

namespace vekhost {

// "" when the file at `path` is such a module exporting `symbol`;
// otherwise why not, in a few words.
std::string check_module_file(const std::string& path, const char* symbol);

}  // namespace vekhost

#endif
