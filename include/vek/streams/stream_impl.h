// The classes streams are assembled from: i_stream_impl (identity, start
// time, an advisory time-limited lock, registration with the core),
// i_input_stream_impl (an input buffer filled from the transport in the
// background, with a data-available event) and i_output_stream_impl (an
// optional output buffer flushed to the transport in the background).
//
// The transport is reached only through the protected hooks of
// stream_base, which a concrete connection class overrides; udp_conn is
// the library's own example, and modules derive their TCP connection
// classes the same way (with vek_net_send/vek_net_recv on a socket from
// vek_net_tcp_open or from tcp_listener::on_connection), then call
// start_io(). The stream-watch thread runs bg_task, which reads the
// transport (read_impl) into the input buffer, then flushes the output
// buffer (write_impl) once its timeout has run out.
//
// Thread safety:
// - i_stream_impl, i_input_stream_impl, i_output_stream_impl: safe for
//   concurrent use (three guards per stream: the lock guard, the input
//   guard and the output guard, never nested in each other; each buffer
//   operation holds its guard across the transport call).
// - stream_base: the hooks are called under the buffer guards.
#ifndef VEK_STREAMS_STREAM_IMPL_H
#define VEK_STREAMS_STREAM_IMPL_H

#include "vek/export.h"
#include "vek/object/base.h"
#include "vek/object/sync.h"
#include "vek/streams/stream.h"

namespace vek {

// The transport hooks a connection class overrides.
class VEK_API stream_base {
public:
    virtual ~stream_base();

protected:
    // Bytes read into `buf` (at most `size`); 0 when nothing is available.
    virtual unsigned int read_impl(char* buf, unsigned int size);
    // Bytes written; negative on error.
    virtual int write_impl(const char* data, unsigned int size);
    virtual void do_bg_reading();
    virtual void do_bg_writeing();
};

// Answers "i_stream" and "i_typed_object". The id comes from
// vek_get_next_id() at construction.
class VEK_API i_stream_impl : public object,
                              public i_typed_object_impl,
                              public virtual i_stream,
                              public virtual stream_base {
public:
    i_stream_impl();
    ~i_stream_impl() override;

    bool lock(unsigned int to) override;
    void unlock() override;
    // Background reading then writing while active; always true (a stream
    // leaves the registry through is_connected).
    bool bg_task() override;
    unsigned int get_start_time() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

protected:
    // Registers the stream with the core's stream-watch thread.
    virtual void start_io();

    mutex m_lock_guard;  // owner, expiry and count only
    unsigned int m_lock_owner;
    unsigned int m_lock_expiry;
    unsigned int m_lock_count;
    bool m_active;
    unsigned int m_start_time;
};

// The input half. Reading stops while more than 4 MiB are buffered and
// resumes once consumers have taken data.
class VEK_API i_input_stream_impl : public virtual i_input_stream, public virtual stream_base {
public:
    i_input_stream_impl();
    ~i_input_stream_impl() override;

    unsigned int get_last_comm_time() override;
    unsigned int get_in_buffer_size() override;
    char* get_text(const char* delim, bool rem) override;
    unsigned char get_byte(bool rem) override;
    i_binary* get_binary(unsigned int max_size, bool rem) override;
    bool set_in_buffer_timeout(int timeout) override;
    bool remove_in_buffer_data(unsigned int data_size) override;

protected:
    virtual void fire_new_data_event();
    // Copies min(size, unread) bytes to `dst` (skipped when null) and
    // drops them when `remove`. False when no block was ever allocated.
    virtual bool read_in_buf(void* dst, unsigned int size, bool remove);
    void do_bg_reading() override;

    char* m_in_block;
    int m_in_capacity;
    char* m_in_read_pos;
    int m_in_data_size;
    int m_in_timeout;
    mutex m_in_guard;  // the block and its positions; held across read_impl
    unsigned int m_first_unnotified;
    unsigned int m_last_comm_time;
};

// The output half: unbuffered (timeout 0) writes go straight to write_impl
// and succeed only when every byte was written; buffered writes wait for a
// flush, and a failing flush keeps everything buffered.
class VEK_API i_output_stream_impl : public virtual i_output_stream, public virtual stream_base {
public:
    i_output_stream_impl();
    ~i_output_stream_impl() override;

    bool put_text(const char* data) override;
    bool put_byte(unsigned char data) override;
    bool put_binary(const void* data, unsigned int data_size) override;
    bool set_out_buffer_timeout(unsigned int timeout) override;
    void flush_out_buffer() override;

protected:
    virtual bool write_out_buf(const void* data, unsigned int size);
    void do_bg_writeing() override;

    char* m_out_block;
    int m_out_capacity;
    int m_out_used;
    unsigned int m_out_timeout;
    mutex m_out_guard;  // the block and its counts; held across write_impl
    unsigned int m_first_unflushed;
};

}  // namespace vek

#endif
