// Whole-file reading and writing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/fs.h"
#include "vek/core.h"
#include "vek/util.h"

namespace {

// Files written on Windows read the same here: each CR LF becomes LF, as
// its text mode does; a lone CR stays.
std::size_t fold_line_ends(char* text, std::size_t length)
{
    std::size_t out = 0;
    for (std::size_t in = 0; in < length; ++in) {
        if (text[in] == '\r' && in + 1 < length && text[in + 1] == '\n') continue;
        text[out++] = text[in];
    }
    return out;
}

// Reads until end of file or until `size` bytes are in; the count read.
std::size_t read_up_to(std::FILE* f, char* buf, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        std::size_t n = std::fread(buf + done, 1, size - done, f);
        if (n == 0) break;
        done += n;
    }
    return done;
}

}  // namespace

char* vek_read_file(const char* file_path)
{
    if (file_path == nullptr || *file_path == '\0') return nullptr;
    char* path = vek_get_absolute_path(file_path);
    if (path == nullptr) return nullptr;
    long long size = vek::platform::file_size(path);
    char* text = nullptr;
    std::FILE* f = nullptr;
    if (size >= 0) text = static_cast<char*>(std::malloc(static_cast<std::size_t>(size) + 1));
    if (text != nullptr) f = std::fopen(path, "rb");
    std::free(path);
    if (f == nullptr) {
        std::free(text);
        return nullptr;
    }
    std::size_t length = read_up_to(f, text, static_cast<std::size_t>(size));
    std::fclose(f);
    text[fold_line_ends(text, length)] = '\0';
    return text;
}

vek::i_binary* vek_read_binary_file(const char* file_path)
{
    if (file_path == nullptr || *file_path == '\0') return nullptr;
    char* path = vek_get_absolute_path(file_path);
    if (path == nullptr) return nullptr;
    long long size = vek::platform::file_size(path);
    std::FILE* f = size >= 0 && size <= 0xFFFFFFFFLL ? std::fopen(path, "rb") : nullptr;
    std::free(path);
    if (f == nullptr) return nullptr;
    char* data = static_cast<char*>(std::malloc(size != 0 ? static_cast<std::size_t>(size) : 1));
    std::size_t length = data != nullptr ? read_up_to(f, data, static_cast<std::size_t>(size)) : 0;
    std::fclose(f);
    if (data == nullptr || length != static_cast<std::size_t>(size)) {
        std::free(data);
        return nullptr;
    }
    // A file of 0 bytes gives an empty buffer; the block, recorded with
    // size 0, is then ours to free.
    if (size == 0) {
        std::free(data);
        data = nullptr;
    }
    auto* bin = new (std::nothrow) vek::binary(data, static_cast<unsigned int>(size), true);
    if (bin == nullptr) {
        std::free(data);
        return nullptr;
    }
    bin->addref();
    return bin;
}

// The new contents are written whole or not at all: a crash, a full disk
// or a failed write leaves the old file as it was and gives false.
bool vek_write_binary_file(const char* file_path, const void* data, unsigned int data_size, bool append)
{
    if (file_path == nullptr || *file_path == '\0' || data == nullptr) return false;
    char* path = vek_get_absolute_path(file_path);
    if (path == nullptr) return false;
    std::string error;
    bool ok = append ? vek::platform::append_file(path, data, data_size, &error)
                     : vek::platform::replace_file(path, data, data_size, &error);
    if (!ok) vek_trace("vek_write_binary_file(%s): %s", path, error.c_str());
    std::free(path);
    return ok;
}

bool vek_write_file(const char* file_path, const char* data, bool append)
{
    if (file_path == nullptr || data == nullptr) return false;
    return vek_write_binary_file(file_path, data, static_cast<unsigned int>(std::strlen(data)), append);
}
