// Streams watched by the core.
//
// A registered stream gets its bg_task called by the core's stream-watch
// thread; the core drops it once bg_task returns false or it reports itself
// disconnected.
//
// Thread safety: implementations are safe for concurrent use (the
// stream-watch thread and callers use a stream at once).
#ifndef VEK_STREAMS_H
#define VEK_STREAMS_H

#include "vek/object/base.h"
#include "vek/streams/bin_parser.h"

namespace vek {

class VEK_API i_stream : public virtual i_typed_object {
public:
    virtual bool disconnect() = 0;
    virtual bool is_connected() = 0;
    // Locks the stream for at most `to` seconds.
    virtual bool lock(unsigned int to) = 0;
    virtual void unlock() = 0;
    // One background turn; false when the stream is finished.
    virtual bool bg_task() = 0;
    // vek_get_curr_time() at construction.
    virtual unsigned int get_start_time() = 0;

protected:
    ~i_stream() = default;
};

}  // namespace vek

#endif
