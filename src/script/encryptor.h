// The encryptor service: vek_initialize registers it as "svc_encrypt". See
// vek/script/encryptor.h for the methods and the ciphertext layout.
//
// Thread safety: safe for concurrent use; every call works on its own
// buffers and key schedule.
#ifndef VEK_SCRIPT_ENCRYPTOR_IMPL_H
#define VEK_SCRIPT_ENCRYPTOR_IMPL_H

#include "vek/object/base.h"
#include "vek/script/encryptor.h"

namespace vek {

class encryptor : public object,
                  public virtual i_named_object_impl,
                  public virtual i_typed_object_impl,
                  public virtual i_encryptor {
public:
    // Named "encryptor", with the type id 77132.
    encryptor();

    // New reference: caller releases.
    i_binary* encrypt(const void* data, unsigned long data_size, const void* key, unsigned int key_size,
                      unsigned char method) override;
    // New reference: caller releases.
    i_binary* decrypt(const void* data, unsigned long data_size, const void* key, unsigned int key_size,
                      unsigned char method) override;
    // Heap text: caller frees with free().
    const char* encrypt_string(const char* data, const char* key, unsigned char method) override;
    // Heap text: caller frees with free().
    const char* decrypt_string(const char* data, const char* key, unsigned char method) override;

    // Answers "i_encryptor", "i_named_object" and "i_typed_object".
    bool get_interface(const char* iface_name, void** pp_obj) override;

private:
    // New reference: caller releases. encrypt and decrypt, told apart by
    // `encrypting`.
    static i_binary* process(const void* data, unsigned long data_size, const void* key, unsigned int key_size,
                             unsigned char method, bool encrypting);
};

}  // namespace vek

#endif
