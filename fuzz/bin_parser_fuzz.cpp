// Runs a sequence of reads over arbitrary bytes. The first byte's low 7
// bits give the length of the operation script that follows it, its top
// bit asks the parser to copy the data; the rest is the data,
// copied to a heap block of exactly its size so that AddressSanitizer
// catches a read one byte past the end. Besides crashes and sanitizer
// reports, the cursor is checked after every step: it stays within the
// data and moves only by the amount the read takes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <vek/vek_core.h>

namespace {

struct script {
    const uint8_t* p;
    size_t left;

    uint8_t next()
    {
        if (left == 0) return 0;
        --left;
        return *p++;
    }
    // Mostly small offsets and counts; sometimes values near 2^32.
    unsigned int number()
    {
        uint8_t v = next();
        return (v & 0x80) != 0 ? 0xFFFFFFFFu - (v & 0x7F) : v;
    }
};

void check(bool ok)
{
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const size_t script_size = (data[0] & 0x7Fu) < size - 1 ? (data[0] & 0x7Fu) : size - 1;
    script ops{data + 1, script_size};
    size_t n = size - 1 - script_size;
    unsigned char* block = static_cast<unsigned char*>(std::malloc(n != 0 ? n : 1));
    if (block == nullptr) return 0;
    std::memcpy(block, data + 1 + script_size, n);
    const bool copy = (data[0] & 0x80) != 0;
    vek::i_bin_parser* p = vek_create_bin_parser(block, static_cast<unsigned int>(n), copy);
    if (n == 0) check(p == nullptr);
    while (p != nullptr && ops.left != 0) {
        const uint8_t op = ops.next();
        const bool incr = (op & 0x10) != 0, invert = (op & 0x20) != 0;
        const unsigned int before = p->get_offset(), bit = p->get_start_bit();
        const unsigned int offset = ops.number();
        unsigned long long moved = 0;  // what a successful read moves the cursor by, in bits
        switch (op & 0x0F) {
            case 0: {
                unsigned int val = ops.number(), start_bit = ops.next() % 10;
                check(p->set_offset(val, start_bit) == (val < n && start_bit < 8));
                continue;
            }
            case 1: {
                const unsigned int sizes[] = {2, 4, 8, 3};
                const unsigned int sz = sizes[ops.next() % 4];
                long long v = p->get_int(offset, sz, invert, incr);
                if (sz == 2 && invert) check(v >= 0 && v < 65536);
                if (sz == 4) check(v >= 0 && v <= 0xFFFFFFFFLL);
                moved = 8ULL * sz;
                break;
            }
            case 2:
                p->get_float(offset, invert, incr);
                moved = 32;
                break;
            case 3:
                p->get_double(offset, invert, incr);
                moved = 64;
                break;
            case 4:
                p->get_byte(offset, incr);
                moved = 8;
                break;
            case 5:
            case 6: {
                unsigned int count = (op & 0x0F) == 5 ? ops.next() % 72 : ops.number();
                unsigned long long v = p->get_bits(offset, count, incr);
                if (count < 64) check(v >> count == 0);
                moved = count;
                break;
            }
            case 7: {
                const char* text = p->get_text(offset, incr);
                const size_t len = std::strlen(text);
                // A text is read in place: it and its NUL lie within the data.
                const char* first = reinterpret_cast<const char*>(block);
                if (!copy && len != 0) check(text >= first && text + len < first + n);
                moved = 8ULL * (len + 1);
                break;
            }
            default: {
                char* text = p->get_text2(offset, ops.number(), incr);
                if (text != nullptr) {
                    const size_t len = std::strlen(text);
                    check(len <= n);
                    moved = 8ULL * len;
                    std::free(text);
                }
                break;
            }
        }
        const unsigned int after = p->get_offset();
        check(after <= n && p->get_start_bit() < 8 && p->get_unparsed_size() == n - after);
        if (after != before || p->get_start_bit() != bit) {
            // Only a read with incr_offset moves the cursor, and by exactly what it took.
            check(incr);
            const unsigned long long at = 8ULL * before + bit + moved;
            check(8ULL * after + p->get_start_bit() == at);
        }
    }
    if (p != nullptr) p->release();
    std::free(block);
    return 0;
}
