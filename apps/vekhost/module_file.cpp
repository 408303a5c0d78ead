#include "module_file.h"

#include <elf.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

namespace vekhost {

namespace {

// The first `max` bytes of the file (all of it when shorter).
bool read_file(const std::string& path, std::vector<char>* out, std::size_t max = ~std::size_t{0})
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || !in.seekg(0)) return false;
    out->resize(std::min<std::size_t>(static_cast<std::size_t>(size), max));
    in.read(out->data(), static_cast<std::streamsize>(out->size()));
    out->resize(static_cast<std::size_t>(in.gcount()));
    return !in.bad();
}

// The object of type T at `offset`, or false when it does not fit.
template <typename T>
bool at(const std::vector<char>& file, unsigned long long offset, T* out)
{
    if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
    std::memcpy(out, file.data() + offset, sizeof(T));
    return true;
}

bool defines(const std::vector<char>& file, const Elf64_Ehdr& header, const char* symbol)
{
    for (unsigned int i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr section, strings;
        if (!at(file, header.e_shoff + static_cast<unsigned long long>(i) * sizeof section, &section)) return false;
        if (section.sh_type != SHT_DYNSYM || section.sh_entsize != sizeof(Elf64_Sym)) continue;
        if (!at(file, header.e_shoff + static_cast<unsigned long long>(section.sh_link) * sizeof strings, &strings))
            return false;
        for (unsigned long long k = 0; k < section.sh_size / sizeof(Elf64_Sym); ++k) {
            Elf64_Sym sym;
            if (!at(file, section.sh_offset + k * sizeof sym, &sym)) return false;
            unsigned long long name = strings.sh_offset + sym.st_name;
            if (sym.st_shndx == SHN_UNDEF || ELF64_ST_TYPE(sym.st_info) != STT_FUNC || name >= file.size() ||
                sym.st_name >= strings.sh_size)
                continue;
            const char* text = file.data() + name;
            std::size_t room = file.size() - name;
            if (strnlen(text, room) < room && std::strcmp(text, symbol) == 0) return true;
        }
    }
    return false;
}

}  // namespace

std::string check_module_file(const std::string& path, const char* symbol)
{
    std::vector<char> file, self;
    if (!read_file(path, &file)) return "cannot be read";
    Elf64_Ehdr header{}, own{};
    if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) return "not an ELF file";
    if (!read_file("/proc/self/exe", &self, sizeof own) || !at(self, 0, &own))
        return "the running program cannot be read";
    if (static_cast<unsigned char>(file[EI_CLASS]) != own.e_ident[EI_CLASS] || !at(file, 0, &header) ||
        header.e_machine != own.e_machine)
        return "built for another kind of machine";
    if (header.e_type != ET_DYN) return "not a shared object";
    if (!defines(file, header, symbol)) return std::string("does not export ") + symbol;
    return "";
}

}  // namespace vekhost
