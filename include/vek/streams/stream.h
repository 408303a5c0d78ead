// Streams: reference-counted connection objects with an input buffer,
// an output buffer and an advisory lock.
//
// A registered stream gets bg_task() about every 100 ms from the core's
// stream-watch thread; bg_task reads the transport into the input buffer,
// then flushes the output buffer once its timeout has run out. Consumers
// call the buffer operations from any thread, usually an event handler's.
// The data-available event "VEK_EVT_STREAM_DATA_AVAIBLE" (spelled so) is
// queued, with the stream's id as event id and the stream as event object,
// in the first background pass at least the in-buffer timeout after the
// first data it has not yet announced.
//
// A stream that reports itself disconnected (is_connected() false) is
// dropped by the watch thread at its next pass and announces nothing more.
// So a connection class whose transport has ended should keep reporting
// itself connected until the data already buffered has been announced
// (its first-unnotified time is back to 0), or handlers never see it.
//
// Thread safety: i_stream, i_input_stream, i_output_stream, i_io_stream
// and i_inet_stream: safe for concurrent use in the library's own
// implementations (vek/streams/stream_impl.h).
#ifndef VEK_STREAMS_STREAM_H
#define VEK_STREAMS_STREAM_H

#include "vek/export.h"
#include "vek/object/base.h"

namespace vek {

class i_binary;

class VEK_API i_stream : public virtual i_typed_object {
public:
    virtual bool disconnect() = 0;
    virtual bool is_connected() = 0;
    // Takes the advisory lock for at most `to` seconds; another thread
    // takes it over once that time has run out.
    virtual bool lock(unsigned int to) = 0;
    virtual void unlock() = 0;
    // One background turn; false when the stream is finished.
    virtual bool bg_task() = 0;
    // vek_get_curr_time() at construction.
    virtual unsigned int get_start_time() = 0;

protected:
    ~i_stream() = default;
};

class VEK_API i_input_stream : public virtual i_stream {
public:
    virtual unsigned int get_last_comm_time() = 0;
    // Unread bytes.
    virtual unsigned int get_in_buffer_size() = 0;
    // Heap text: caller frees with free(). The unread data up to and
    // including `delim` (all of it for ""); null for a null `delim`, an
    // empty buffer or a delimiter not found. `rem` false peeks.
    virtual char* get_text(const char* delim, bool rem) = 0;
    // 0 when nothing is buffered.
    virtual unsigned char get_byte(bool rem) = 0;
    // New reference: caller releases. Up to `max_size` unread bytes (all
    // for 0); an empty binary when nothing is buffered; null when out of
    // memory.
    virtual i_binary* get_binary(unsigned int max_size, bool rem) = 0;
    // Seconds between the first unannounced data and its event; 0 at the
    // next pass, -1 never.
    virtual bool set_in_buffer_timeout(int timeout) = 0;
    virtual bool remove_in_buffer_data(unsigned int data_size) = 0;

protected:
    ~i_input_stream() = default;
};

class VEK_API i_output_stream : public virtual i_stream {
public:
    virtual bool put_text(const char* data) = 0;
    virtual bool put_byte(unsigned char data) = 0;
    virtual bool put_binary(const void* data, unsigned int data_size) = 0;
    // 0 writes every call through at once; otherwise writes are buffered
    // and flushed in the first background pass `timeout` seconds after the
    // oldest of them.
    virtual bool set_out_buffer_timeout(unsigned int timeout) = 0;
    virtual void flush_out_buffer() = 0;

protected:
    ~i_output_stream() = default;
};

class VEK_API i_io_stream : public virtual i_input_stream, public virtual i_output_stream {
protected:
    ~i_io_stream() = default;
};

class VEK_API i_inet_stream : public virtual i_io_stream {
public:
    // Owned by the stream, valid for its lifetime.
    virtual const char* get_host() = 0;
    virtual unsigned short get_port() = 0;

protected:
    ~i_inet_stream() = default;
};

}  // namespace vek

// No reference added.
VEK_API vek::i_stream* vek_cast_i_stream(vek::i_object* obj);
VEK_API vek::i_input_stream* vek_cast_i_input_stream(vek::i_object* obj);
VEK_API vek::i_output_stream* vek_cast_i_output_stream(vek::i_object* obj);
VEK_API vek::i_io_stream* vek_cast_i_io_stream(vek::i_object* obj);
VEK_API vek::i_inet_stream* vek_cast_i_inet_stream(vek::i_object* obj);

#endif
