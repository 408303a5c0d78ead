#include "util/md5_encoder.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>

#include "object/cast_impl.h"
#include "object/interface_query.h"

namespace vek {

md5_encoder::md5_encoder()
{
    set_name("MD5 encoder");
}

bool md5_encoder::get_interface(const char* iface_name, void** pp_obj)
{
    if (name_is(iface_name, "i_named_object")) return answer(pp_obj, static_cast<i_named_object*>(this));
    if (name_is(iface_name, "i_md5_encoder")) return answer(pp_obj, static_cast<i_md5_encoder*>(this));
    return object::get_interface(iface_name, pp_obj);
}

char* md5_encoder::encode_string(const char* src)
{
    if (src == nullptr) return nullptr;
    return encode_data(src, static_cast<unsigned int>(std::strlen(src)));
}

char* md5_encoder::encode_data(const void* data, unsigned int data_length)
{
    if (data == nullptr) return nullptr;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_size = 0;
    if (EVP_Digest(data, data_length, digest, &digest_size, EVP_md5(), nullptr) != 1 || digest_size != 16) {
        return nullptr;
    }
    char* text = static_cast<char*>(std::malloc(33));
    if (text == nullptr) return nullptr;
    static const char k_digits[] = "0123456789abcdef";
    for (unsigned int i = 0; i < 16; ++i) {
        text[2 * i] = k_digits[digest[i] >> 4];
        text[2 * i + 1] = k_digits[digest[i] & 15];
    }
    text[32] = '\0';
    return text;
}

}  // namespace vek

VEK_DEFINE_CAST(vek::i_md5_encoder, i_md5_encoder)
