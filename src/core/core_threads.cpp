// The core's two background threads: the tick and the stream watch.
#include "core/core.h"
#include "core/log.h"
#include "core/time_zone.h"
#include "object/thread_count.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "vek/events.h"
#include "vek/streams.h"

namespace vek {

void core::start_threads()
{
    if (get_threads_count() != 0) return;  // a second library entry
    create_thread(this, static_cast<thread_function>(&core::tick_loop), nullptr);
    create_thread(this, static_cast<thread_function>(&core::watch_loop), nullptr);
}

void core::tick_loop(void*)
{
    thread_set_role("tick");
    log_set_ticking(true);
    while (thread_running()) {
        unsigned int now = platform::now_seconds();
        if (now != last_tick()) {
            set_last_tick(now);
            vek_generate_event("VEK_CORE_EVT_BG_TASK", 0, nullptr, false);
            refresh_time_zone(now);
        }
        log_flush_files();
        platform::sleep_ms(50);
    }
    log_set_ticking(false);
}

void core::watch_loop(void*)
{
    thread_set_role("stream watch");
    while (thread_running() && vek_is_running()) {
        serve_streams();
        platform::sleep_ms(100);
    }
    m_streams->clear();
}

// The list locks itself per operation and is re-read at every position, so
// streams may be registered while a pass runs.
void core::serve_streams()
{
    unsigned int pos = 0;
    while (pos < m_streams->get_count()) {
        i_object* item = m_streams->get_item_by_pos(pos);
        if (item == nullptr) break;
        void* p = nullptr;
        auto* stream = item->get_interface("i_stream", &p) ? static_cast<i_stream*>(p) : nullptr;
        if (stream != nullptr && (!stream->bg_task() || !stream->is_connected())) {
            stream->disconnect();
            m_streams->remove_item(item);
        } else {
            ++pos;
        }
        item->release();
    }
}

}  // namespace vek
