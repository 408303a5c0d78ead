// A configuration file read for diagnosis: every element with its line and
// attributes, or the reason the file cannot be read or parsed. The library
// reads the file for a run; this reading only explains it.
#ifndef VEKHOST_CONFIG_FILE_H
#define VEKHOST_CONFIG_FILE_H

#include <string>
#include <utility>
#include <vector>

namespace vekhost {

struct config_element {
    std::string name;
    std::string parent;  // "" for the root
    unsigned long line = 0;
    std::vector<std::pair<std::string, std::string>> attributes;

    // The attribute's value; "" when it is missing.
    const std::string& attribute(const char* name) const;
    bool has(const char* name) const;
};

// The elements in document order; the root comes first.
struct config_doc {
    std::vector<config_element> elements;
};

// `path` made absolute against the working directory (unchanged when it
// already is).
std::string from_working_dir(const std::string& path);

// Reads and parses the file. False with `error` set to one line: "cannot
// read configuration 'PATH': REASON" or "configuration 'PATH', line L,
// column C: MESSAGE".
bool read_config_file(const std::string& path, config_doc* doc, std::string* error);

// What the loader would ignore or misread, as (line, text): a root element
// other than "config", unknown elements and attributes.
std::vector<std::pair<unsigned long, std::string>> config_warnings(const config_doc& doc);

}  // namespace vekhost

#endif
