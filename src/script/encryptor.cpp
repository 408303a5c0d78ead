#include "script/encryptor.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "object/cast_impl.h"
#include "object/interface_query.h"
#include "script/frog.h"
#include "script/tea.h"
#include "vek/util/checksum.h"

namespace vek {

namespace {

const long long k_type_id = 77132;
const unsigned char k_method_copy = '0';
const unsigned char k_method_frog = '1';
const unsigned char k_method_tea = '2';
const unsigned int k_tea_block_size = 8;
const unsigned int k_tea_key_size = 16;
// The length prefix.
const unsigned int k_prefix_size = 4;

// A request to one of the block ciphers: the plaintext length and the
// bytes to run through the cipher (the plaintext, or a ciphertext's blocks
// and trailing zeros).
struct frame {
    const std::uint8_t* blocks;
    std::size_t blocks_size;
    std::uint32_t n;
};

// Reads the plaintext length and the block data of a request. A plaintext
// is refused when its ciphertext size would not fit in 32 bits; a
// ciphertext when it holds less than the length, one block and one byte,
// or when its length field exceeds the bytes after it.
bool read_frame(const void* data, unsigned long data_size, unsigned int block_size, bool encrypting, frame* f)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const unsigned int overhead = block_size + k_prefix_size;
    if (encrypting) {
        if (data_size > 0xFFFFFFFFul - overhead) return false;
        *f = {bytes, data_size, static_cast<std::uint32_t>(data_size)};
        return true;
    }
    if (data_size < overhead + 1ul) return false;
    std::uint32_t n =
        (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
    if (n > data_size - k_prefix_size) return false;
    *f = {bytes + k_prefix_size, data_size - k_prefix_size, n};
    return true;
}

// New reference: caller releases. A buffer that takes over `block` with
// `size` bytes (an empty one, with the block freed, for 0); null, with the
// block freed, when memory runs out.
i_binary* take_block(void* block, unsigned int size)
{
    if (size == 0) {
        // A block recorded with size 0 would never be freed.
        std::free(block);
        block = nullptr;
    }
    auto* bin = new (std::nothrow) binary(block, size, true);
    if (bin == nullptr) {
        std::free(block);
        return nullptr;
    }
    bin->addref();
    return bin;
}

// New reference: caller releases. Copies the block data into a
// zero-filled output (after the length prefix when encrypting), so that
// floor(blocks_size / block_size) + 1 zero-padded blocks lie there, and
// runs `cipher(blocks, count)` over them in place.
template <class Cipher>
i_binary* run_blocks(const frame& f, unsigned int block_size, bool encrypting, Cipher&& cipher)
{
    auto* out = static_cast<std::uint8_t*>(std::calloc(f.blocks_size + block_size + k_prefix_size, 1));
    if (out == nullptr) return nullptr;
    std::uint8_t* dest = out;
    if (encrypting) {
        for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(f.n >> (24 - 8 * i));
        dest += k_prefix_size;
    }
    std::memcpy(dest, f.blocks, f.blocks_size);
    cipher(dest, f.blocks_size / block_size + 1);
    return take_block(out, encrypting ? f.n + block_size + k_prefix_size : f.n);
}

inline std::uint32_t load_le32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

inline void store_le32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The 16-byte TEA key of each successive block: the next (up to) 16 key
// bytes laid over what the window held before, wrapping at the key's end.
class tea_key_window {
public:
    tea_key_window(const std::uint8_t* key, unsigned int key_size) : m_key(key), m_size(key_size) {}

    void next(std::uint32_t words[4])
    {
        unsigned int count = std::min(k_tea_key_size, m_size - m_pos);
        std::memcpy(m_window, m_key + m_pos, count);
        m_pos += count;
        if (m_pos == m_size) m_pos = 0;
        for (int i = 0; i < 4; ++i) words[i] = load_le32(m_window + 4 * i);
    }

private:
    const std::uint8_t* m_key;
    unsigned int m_size;
    unsigned int m_pos = 0;
    std::uint8_t m_window[k_tea_key_size] = {};
};

i_binary* run_tea(const frame& f, const void* key, unsigned int key_size, bool encrypting)
{
    tea_key_window window(static_cast<const std::uint8_t*>(key), key_size);
    return run_blocks(f, k_tea_block_size, encrypting, [&](std::uint8_t* blocks, std::size_t count) {
        for (std::size_t first = 0; first < count; first += tea::k_lanes) {
            std::size_t used = std::min<std::size_t>(tea::k_lanes, count - first);
            std::uint8_t* p = blocks + first * k_tea_block_size;
            std::uint32_t y[tea::k_lanes] = {}, z[tea::k_lanes] = {}, k[tea::k_lanes][4] = {};
            for (std::size_t l = 0; l < used; ++l) {
                window.next(k[l]);
                y[l] = load_le32(p + l * k_tea_block_size);
                z[l] = load_le32(p + l * k_tea_block_size + 4);
            }
            if (encrypting) {
                tea::encrypt_lanes(y, z, k);
            } else {
                tea::decrypt_lanes(y, z, k);
            }
            for (std::size_t l = 0; l < used; ++l) {
                store_le32(p + l * k_tea_block_size, y[l]);
                store_le32(p + l * k_tea_block_size + 4, z[l]);
            }
        }
    });
}

i_binary* run_frog(const frame& f, const void* key, unsigned int key_size, bool encrypting)
{
    frog::internal_key schedule;
    if (!frog::make_key(key, key_size, !encrypting, &schedule)) return nullptr;
    return run_blocks(f, frog::k_block_size, encrypting, [&](std::uint8_t* blocks, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t* block = blocks + i * frog::k_block_size;
            if (encrypting) {
                frog::encrypt_block(schedule, block);
            } else {
                frog::decrypt_block(schedule, block);
            }
        }
    });
}

}  // namespace

encryptor::encryptor()
{
    set_name("encryptor");
    m_id = k_type_id;
}

bool encryptor::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_encryptor")) return answer(pp_obj, static_cast<i_encryptor*>(this));
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    if (name_is(iface_name, "i_typed_object")) return answer(pp_obj, static_cast<i_typed_object*>(this));
    return object::get_interface(iface_name, pp_obj);
}

i_binary* encryptor::process(const void* data, unsigned long data_size, const void* key, unsigned int key_size,
                             unsigned char method, bool encrypting)
{
    if (data == nullptr || key == nullptr || data_size == 0 || key_size == 0) return nullptr;
    frame f;
    switch (method) {
        case k_method_copy: {
            if (data_size > 0xFFFFFFFFul) return nullptr;
            void* copy = std::malloc(data_size);
            if (copy == nullptr) return nullptr;
            std::memcpy(copy, data, data_size);
            return take_block(copy, static_cast<unsigned int>(data_size));
        }
        case k_method_frog:
            if (key_size < frog::k_min_key_size || key_size > frog::k_max_key_size) return nullptr;
            if (!read_frame(data, data_size, frog::k_block_size, encrypting, &f)) return nullptr;
            return run_frog(f, key, key_size, encrypting);
        case k_method_tea:
            if (!read_frame(data, data_size, k_tea_block_size, encrypting, &f)) return nullptr;
            return run_tea(f, key, key_size, encrypting);
        default:
            return nullptr;
    }
}

i_binary* encryptor::encrypt(const void* data, unsigned long data_size, const void* key, unsigned int key_size,
                             unsigned char method)
{
    return process(data, data_size, key, key_size, method, true);
}

i_binary* encryptor::decrypt(const void* data, unsigned long data_size, const void* key, unsigned int key_size,
                             unsigned char method)
{
    return process(data, data_size, key, key_size, method, false);
}

const char* encryptor::encrypt_string(const char* data, const char* key, unsigned char method)
{
    if (data == nullptr || key == nullptr) return nullptr;
    std::size_t key_size = std::strlen(key) + 1;
    if (key_size > 0xFFFFFFFFu) return nullptr;
    i_binary* cipher = encrypt(data, std::strlen(data) + 1, key, static_cast<unsigned int>(key_size), method);
    if (cipher == nullptr) return nullptr;
    char* text = vek_base64_encode(cipher->get_data(), cipher->get_data_size());
    cipher->release();
    return text;
}

const char* encryptor::decrypt_string(const char* data, const char* key, unsigned char method)
{
    if (data == nullptr || key == nullptr) return nullptr;
    std::size_t key_size = std::strlen(key) + 1;
    if (key_size > 0xFFFFFFFFu) return nullptr;
    i_binary* cipher = vek_base64_decode(data);
    if (cipher == nullptr) return nullptr;
    i_binary* plain =
        decrypt(cipher->get_data(), cipher->get_data_size(), key, static_cast<unsigned int>(key_size), method);
    cipher->release();
    if (plain == nullptr) return nullptr;
    char* text = static_cast<char*>(const_cast<void*>(plain->get_data()));
    unsigned int size = plain->get_data_size();
    if (size == 0 || text[size - 1] != '\0') {
        plain->release();
        return nullptr;
    }
    plain->detach();
    plain->release();
    return text;
}

}  // namespace vek

VEK_DEFINE_CAST(vek::i_encryptor, i_encryptor)
