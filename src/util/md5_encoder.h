// The MD5 service: hexadecimal MD5 digests of texts and byte blocks through
// OpenSSL's libcrypto. vek_initialize registers it as "svc_md5_encoder".
//
// Thread safety: safe for concurrent use; it keeps no state between calls.
#ifndef VEK_UTIL_MD5_ENCODER_H
#define VEK_UTIL_MD5_ENCODER_H

#include "vek/object/base.h"
#include "vek/util/checksum.h"

namespace vek {

class md5_encoder : public object, public i_named_object_impl, public virtual i_md5_encoder {
public:
    // Named "MD5 encoder".
    md5_encoder();

    // Heap text: caller frees with free().
    char* encode_string(const char* src) override;
    // Heap text: caller frees with free().
    char* encode_data(const void* data, unsigned int data_length) override;

    // Answers "i_named_object" and "i_md5_encoder".
    bool get_interface(const char* iface_name, void** pp_obj) override;
};

}  // namespace vek

#endif
