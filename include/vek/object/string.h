// Strings: the shared, growable byte string and three small value classes.
//
// i_string is a reference-counted, zero-terminated byte string. Its buffer
// lives on the process heap; assignment grows it to what is needed but never
// below 256 bytes, appending doubles it, reserve sets an exact size, and
// nothing shrinks it. Nothing here interprets characters.
//
// Thread safety:
// - string, named_string: one thread at a time (no locking; callers that
//   share a string guard it).
// - auto_string, format_string, string_tokenizer: plain values, one thread
//   at a time.
#ifndef VEK_OBJECT_STRING_H
#define VEK_OBJECT_STRING_H

#include "vek/object/base.h"

namespace vek {

class VEK_API i_string : public virtual i_object {
public:
    // Owned by the object, valid until the next change; "" when empty.
    virtual const char* get_value() = 0;
    virtual bool set_value(const char* val) = 0;
    virtual void concat(const char* val) = 0;
    // Appends `count` bytes as strncpy copies them (zero-filled past the
    // end of `val`).
    virtual void concatn(const char* val, unsigned int count) = 0;
    // Heap text: caller frees with free(); null when there was no buffer.
    virtual char* detach() = 0;
    // Takes over `val` (malloc'ed) as the buffer without copying.
    virtual void assign(char* val) = 0;
    virtual bool reserve(unsigned int size) = 0;

protected:
    ~i_string() = default;
};

class VEK_API i_named_string : public virtual i_string, public virtual i_named_object {
protected:
    ~i_named_string() = default;
};

// The implementation of i_string for any class that mixes it in.
// Invariant while a buffer exists: m_length < m_capacity and
// m_buffer[m_length] == 0.
class VEK_API i_string_impl : public virtual i_string {
public:
    i_string_impl();
    i_string_impl(const i_string_impl&) = delete;
    i_string_impl& operator=(const i_string_impl&) = delete;
    virtual ~i_string_impl();

    // Frees the old buffer and takes over `buf` of `buf_size` bytes.
    virtual void assign_buffer(char* buf, unsigned int buf_size);
    virtual unsigned int get_max_buf_size();

    const char* get_value() override;
    bool set_value(const char* val) override;
    void concat(const char* val) override;
    void concatn(const char* val, unsigned int count) override;
    char* detach() override;
    void assign(char* val) override;
    bool reserve(unsigned int size) override;

protected:
    char* m_buffer;
    unsigned int m_capacity;
    unsigned int m_length;
};

// Answers "i_string".
class VEK_API string : public object, public i_string_impl {
public:
    string();
    explicit string(const char* val);

    bool get_interface(const char* iface_name, void** pp_obj) override;
};

// Answers "i_named_string", "i_named_object", "i_string".
class VEK_API named_string : public string, public i_named_object_impl, public virtual i_named_string {
public:
    named_string();
    named_string(const char* name, const char* val);

    bool get_interface(const char* iface_name, void** pp_obj) override;
};

// An owned zero-terminated text on the process heap (or null).
class VEK_API auto_string {
public:
    auto_string();
    // Takes over `p` (malloc'ed) without copying.
    auto_string(char* p);
    auto_string(const auto_string& other);
    auto_string& operator=(const auto_string& other);
    ~auto_string();

    operator char*() { return m_text; }
    operator const char*() const { return m_text; }
    bool is_ok() const { return m_text != nullptr; }
    // False when either text is null.
    bool operator==(const char* s) const;
    // Equal texts, or both null.
    bool operator==(const auto_string& other) const;

private:
    char* m_text;
};

// A printf-style formatted text on the process heap; null after an
// allocation failure, so callers test it before use.
class VEK_API format_string {
public:
    format_string(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    format_string(const format_string& other);
    format_string& operator=(const char* s);
    format_string& operator=(const format_string& other);
    ~format_string();

    operator char*() { return m_text; }
    operator const char*() const { return m_text; }

private:
    char* m_text;
};

// Splits a zero-terminated text at one separator character. Does not own
// the text, which must outlive the tokenizer.
class VEK_API string_tokenizer {
public:
    // A separator of 0 is stored as the character with code 1.
    string_tokenizer(const char* text, char separator);

    // Length of the next token, or -1 when the text is exhausted. Steps over
    // one separator (or, with skip_empty, a whole run of them) first.
    int size(bool skip_empty);
    // Copies the next token into dst. False when exhausted or when the token
    // does not fit (length >= dst_size); a separator stepped over stays
    // consumed.
    bool next(char* dst, unsigned int dst_size, bool skip_empty);
    // The current position; null when exhausted.
    const char* ptr() { return m_pos; }

private:
    const char* m_pos;
    char m_separator;
};

}  // namespace vek

// New reference: caller releases.
VEK_API vek::i_string* vek_create_string(const char* val);
// New reference: caller releases.
VEK_API vek::i_named_string* vek_create_named_string(const char* name, const char* val);

#endif
