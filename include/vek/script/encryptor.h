// The encryptor (service "svc_encrypt"): protects the framework's encrypted
// script files.
//
// The encryptor turns byte blocks and texts into ciphertexts and back under
// a caller's key with one of three methods: '0' copies the bytes, '1' is
// the FROG block cipher (16-byte blocks, keys of 5 to 125 bytes), '2' is
// TEA (8-byte blocks, any key, used 16 bytes at a time). A ciphertext of
// methods '1' and '2' is the plaintext length n as 4 big-endian bytes, then
// floor(n / block) + 1 blocks of the zero-padded plaintext in ECB mode,
// then zero bytes up to n + 20 ('1') or n + 12 ('2') bytes in all. A wrong
// key is not detected: it decrypts to garbage.
//
// Thread safety: i_encryptor is safe for concurrent use (it keeps no state
// between calls).
#ifndef VEK_SCRIPT_ENCRYPTOR_H
#define VEK_SCRIPT_ENCRYPTOR_H

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/binary.h"

namespace vek {

class VEK_API i_encryptor : public virtual i_object {
public:
    // New reference: caller releases. The ciphertext of the `data_size`
    // bytes under `method` ('0', '1' or '2'); null for null or empty data
    // or key, an unknown method, a FROG key outside 5 to 125 bytes, or no
    // memory.
    virtual i_binary* encrypt(const void* data, unsigned long data_size, const void* key, unsigned int key_size,
                              unsigned char method) = 0;
    // New reference: caller releases. The plaintext of a ciphertext made by
    // encrypt; null as for encrypt, and for a ciphertext shorter than one
    // block plus 5 bytes or whose length field exceeds its data.
    virtual i_binary* decrypt(const void* data, unsigned long data_size, const void* key, unsigned int key_size,
                              unsigned char method) = 0;
    // Heap text: caller frees with free(). Base64 of the ciphertext of the
    // text with its terminator, under the key text with its terminator;
    // null on failure.
    virtual const char* encrypt_string(const char* data, const char* key, unsigned char method) = 0;
    // Heap text: caller frees with free(). The text that encrypt_string
    // encrypted; null on failure, including a plaintext that does not end
    // in a zero byte (most wrong keys).
    virtual const char* decrypt_string(const char* data, const char* key, unsigned char method) = 0;

protected:
    ~i_encryptor() = default;
};

}  // namespace vek

VEK_API vek::i_encryptor* vek_cast_i_encryptor(vek::i_object* obj);

#endif
