// The buffered stream classes on a scripted transport.
#include <deque>
#include <mutex>
#include <random>

#include "net_support.h"

namespace {

using vek_test::count_of;
using vek_test::wait_for;

// Reads come from `chunks` (or an endless supply when `endless`); writes
// are recorded and answered from `write_results` (-2: take everything).
class scripted : public vek::i_stream_impl,
                 public vek::i_input_stream_impl,
                 public vek::i_output_stream_impl,
                 public virtual vek::i_io_stream {
public:
    static inline std::atomic<int> live{0};
    scripted() { ++live; }
    ~scripted() override { --live; }
    bool disconnect() override { return true; }
    bool is_connected() override { return true; }
    void reading() { do_bg_reading(); }
    unsigned int lock_owner() { return m_lock_owner; }

    std::deque<std::string> chunks;
    bool endless = false;
    int reads = 0;
    std::deque<int> write_results;
    std::vector<std::string> writes;

protected:
    unsigned int read_impl(char* buf, unsigned int size) override
    {
        ++reads;
        if (endless) {
            std::memset(buf, 'x', size);
            return size;
        }
        if (chunks.empty()) return 0;
        std::string& c = chunks.front();
        unsigned int n = std::min<unsigned int>(size, c.size());
        std::memcpy(buf, c.data(), n);
        c.erase(0, n);
        if (c.empty()) chunks.pop_front();
        return n;
    }
    int write_impl(const char* data, unsigned int size) override
    {
        writes.emplace_back(data, size);
        int r = write_results.empty() ? -2 : write_results.front();
        if (!write_results.empty()) write_results.pop_front();
        return r == -2 ? static_cast<int>(size) : r;
    }
};

std::string take_text(vek::i_input_stream* s, const char* delim, bool rem)
{
    char* t = s->get_text(delim, rem);
    std::string out = t != nullptr ? t : "<null>";
    std::free(t);
    return out;
}

class stream_test : public net_test::net_fixture {
protected:
    void TearDown() override
    {
        st->release();
        // A queued data event holds the stream until a worker delivers it.
        EXPECT_TRUE(wait_for([] { return scripted::live == 0; }, 3000)) << scripted::live;
        net_fixture::TearDown();
    }
    scripted* st = [] {
        auto* s = new scripted();
        s->addref();
        return s;
    }();
};

TEST_F(stream_test, random_chunks_and_reads_match_a_model)
{
    std::mt19937 rng(7);
    auto rnd = [&](unsigned int n) { return static_cast<unsigned int>(rng() % n); };
    std::string model, pending;  // buffered; still in the transport
    for (int i = 0; i < 10000; ++i) {
        std::string chunk(1 + rnd(40), '\0');
        for (char& c : chunk) c = "ab\r\n"[rnd(4)];
        pending += chunk;
        st->chunks.push_back(chunk);
        if (rnd(3) == 0) {
            st->reading();
            model += pending;
            pending.clear();
        }
        bool rem = rnd(4) != 0;
        size_t n = 0;  // bytes the operation takes
        switch (rnd(4)) {
            case 0: {
                size_t at = model.find("\r\n");
                EXPECT_EQ(take_text(st, "\r\n", rem), at == std::string::npos ? "<null>" : model.substr(0, at + 2));
                n = at == std::string::npos ? 0 : at + 2;
                break;
            }
            case 1:
                EXPECT_EQ(st->get_byte(rem), model.empty() ? 0 : static_cast<unsigned char>(model[0]));
                n = model.empty() ? 0 : 1;
                break;
            case 2: {
                unsigned int max = rnd(30);
                vek::i_binary* b = st->get_binary(max, rem);
                ASSERT_NE(b, nullptr);
                EXPECT_EQ(count_of(b), 1);
                n = max == 0 ? model.size() : std::min<size_t>(max, model.size());
                ASSERT_EQ(b->get_data_size(), n);
                if (n != 0) {
                    EXPECT_EQ(std::string(static_cast<const char*>(b->get_data()), n), model.substr(0, n));
                }
                b->release();
                break;
            }
            default:
                n = std::min<size_t>(rnd(20), model.size());
                rem = true;
                st->remove_in_buffer_data(static_cast<unsigned int>(n));
                break;
        }
        if (rem) model.erase(0, n);
        ASSERT_EQ(st->get_in_buffer_size(), model.size()) << "step " << i;
    }
    EXPECT_EQ(take_text(st, "", true), model.empty() ? "<null>" : model);
}

TEST_F(stream_test, frame_cut_at_every_byte_is_returned_only_when_complete)
{
    const std::string frame = "GET /a\r\nx: 1\r\n\r\n";
    for (size_t cut = 0; cut <= frame.size(); ++cut) {
        st->chunks.push_back(frame.substr(0, cut));
        st->reading();
        EXPECT_EQ(take_text(st, "\r\n\r\n", true), cut == frame.size() ? frame : "<null>") << cut;
        st->chunks.push_back(frame.substr(cut) + "tail");
        st->reading();
        EXPECT_EQ(take_text(st, "\r\n\r\n", true), cut == frame.size() ? "<null>" : frame) << cut;
        EXPECT_EQ(take_text(st, "", true), "tail");
    }
    EXPECT_EQ(take_text(st, nullptr, true), "<null>");
    EXPECT_EQ(take_text(st, "", true), "<null>");
}

TEST_F(stream_test, reading_stops_above_four_mebibytes_until_data_is_taken)
{
    st->endless = true;
    st->set_in_buffer_timeout(-1);
    st->reading();
    // Every chunk read is kept: 257 chunks of 16384 bytes pass 4194304.
    EXPECT_EQ(st->get_in_buffer_size(), 257u * 16384u);
    int reads = st->reads;
    st->reading();
    EXPECT_EQ(st->reads, reads);
    vek::i_binary* b = st->get_binary(16384 * 2, true);
    EXPECT_EQ(b->get_data_size(), 32768u);
    b->release();
    st->reading();
    EXPECT_EQ(st->reads, reads + 2);
    EXPECT_EQ(st->get_in_buffer_size(), 257u * 16384u);
}

TEST_F(stream_test, flush_resends_exactly_the_unsent_rest)
{
    st->set_out_buffer_timeout(100);
    EXPECT_TRUE(st->put_text("abcdefgh"));
    EXPECT_TRUE(st->put_byte('i'));
    st->write_results = {3, -1};
    st->flush_out_buffer();  // 3 written, then an error keeps the rest
    st->write_results = {2, 0};
    st->flush_out_buffer();  // 2 more, then the transport takes nothing
    st->flush_out_buffer();
    EXPECT_EQ(st->writes, (std::vector<std::string>{"abcdefghi", "defghi", "defghi", "fghi", "fghi"}));
    st->set_out_buffer_timeout(0);
    st->write_results = {4};
    EXPECT_FALSE(st->put_binary("12345", 5));  // unbuffered and short
    EXPECT_TRUE(st->put_binary("12345", 0));
    EXPECT_FALSE(st->put_text(nullptr));
    EXPECT_EQ(st->writes.size(), 6u);
}

TEST_F(stream_test, data_event_follows_the_in_buffer_timeout)
{
    net_test::counter seen;
    auto on = static_cast<vek::vek_event_function>(&net_test::counter::on_event);
    vek_install_handler("VEK_EVT_STREAM_DATA_AVAIBLE", st->get_id(), &seen, on);
    // -1: never announced.
    st->set_in_buffer_timeout(-1);
    st->chunks.push_back("a");
    st->reading();
    // 0: announced in the pass that read it (the earlier unannounced data
    // included), once.
    st->set_in_buffer_timeout(0);
    st->chunks.push_back("b");
    st->reading();
    st->reading();
    ASSERT_TRUE(wait_for([&] { return seen.count == 1; }));
    EXPECT_EQ(seen.ids.at(0), st->get_id());
    // 1: only in a pass a clock second after the data came.
    st->set_in_buffer_timeout(1);
    st->chunks.push_back("c");
    st->reading();
    unsigned int arrived = vek_get_curr_time();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (vek_get_curr_time() == arrived) {
        EXPECT_EQ(seen.count, 1);
    }
    pass_seconds(1);
    st->reading();
    EXPECT_TRUE(wait_for([&] { return seen.count == 2; }));
    vek_uninstall_handler("VEK_EVT_STREAM_DATA_AVAIBLE", st->get_id(), &seen, on);
}

TEST_F(stream_test, buffered_writes_leave_together_after_the_out_timeout)
{
    st->set_out_buffer_timeout(2);
    unsigned int first = vek_get_curr_time();
    for (const char* t : {"one ", "two ", "three"}) EXPECT_TRUE(st->put_text(t));
    st->bg_task();
    EXPECT_TRUE(st->writes.empty());
    while (vek_get_curr_time() < first + 2) {
        st->bg_task();
        if (vek_get_curr_time() < first + 2) {
            EXPECT_TRUE(st->writes.empty());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    st->bg_task();
    EXPECT_EQ(st->writes, std::vector<std::string>{"one two three"});
}

TEST_F(stream_test, an_expired_lock_is_taken_over)
{
    unsigned int start = vek_get_curr_time();
    std::thread a([&] { st->lock(1); });  // never unlocked
    a.join();
    EXPECT_NE(st->lock_owner(), 0u);
    EXPECT_TRUE(st->lock(1));
    EXPECT_GE(vek_get_curr_time(), start + 1);
    EXPECT_EQ(st->lock_owner(), static_cast<unsigned int>(vek_get_thread_id()));
    EXPECT_TRUE(st->lock(3));  // nested: no wait
    st->unlock();
    st->unlock();
    EXPECT_EQ(st->lock_owner(), 0u);
}

}  // namespace
