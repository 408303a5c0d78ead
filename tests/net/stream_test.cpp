// The buffered stream classes on a scripted transport.
#include <random>

#include "net_support.h"

namespace {

using vek_test::wait_for;

class StreamTest : public net_test::NetTest {};

TEST_F(StreamTest, ReadsMatchAModelAndFramesComeOutOnlyWhole)
{
    std::mt19937 rng(7);
    auto rnd = [&](unsigned int n) { return static_cast<unsigned int>(rng() % n); };
    std::string model;  // what the buffer holds
    for (int i = 0; i < 10000; ++i) {
        for (unsigned int k = 1 + rnd(40); k > 0; --k) st->input += "ab\r\n"[rnd(4)];
        if (rnd(3) == 0) {
            model += st->input;
            st->reading();
        }
        bool rem = rnd(4) != 0;
        size_t n = 0, at = model.find("\r\n");  // n: the bytes the operation takes
        switch (rnd(4)) {
            case 0:
                n = at == std::string::npos ? 0 : at + 2;
                EXPECT_EQ(take(st->get_text("\r\n", rem)), n == 0 ? "<null>" : model.substr(0, n));
                break;
            case 1:
                n = model.empty() ? 0 : 1;
                EXPECT_EQ(st->get_byte(rem), n == 0 ? 0 : static_cast<unsigned char>(model[0]));
                break;
            case 2: {
                unsigned int max = rnd(30);
                n = max == 0 ? model.size() : std::min<size_t>(max, model.size());
                EXPECT_EQ(take(st->get_binary(max, rem)), model.substr(0, n));
                break;
            }
            default:
                n = std::min<size_t>(rnd(20), model.size());
                rem = true;
                st->remove_in_buffer_data(static_cast<unsigned int>(n));
        }
        if (rem) model.erase(0, n);
        ASSERT_EQ(st->get_in_buffer_size(), model.size()) << "step " << i;
    }
    EXPECT_EQ(take(st->get_text("", true)), model.empty() ? "<null>" : model);

    // A frame cut at any byte is returned only once it is whole.
    const std::string frame = "GET /a\r\nx: 1\r\n\r\n";
    for (size_t cut = 0; cut <= frame.size(); ++cut) {
        st->input = frame.substr(0, cut);
        st->reading();
        EXPECT_EQ(take(st->get_text("\r\n\r\n", true)), cut == frame.size() ? frame : "<null>") << cut;
        st->input = frame.substr(cut) + "tail";
        st->reading();
        EXPECT_EQ(take(st->get_text("\r\n\r\n", true)), cut == frame.size() ? "<null>" : frame) << cut;
        EXPECT_EQ(take(st->get_text("", true)), "tail");
    }
    EXPECT_EQ(take(st->get_text(nullptr, true)), "<null>");
    EXPECT_EQ(take(st->get_text("", true)), "<null>");
}

TEST_F(StreamTest, ReadingStopsAboveFourMebibytesUntilDataIsTaken)
{
    st->input = std::string(5 << 20, 'x');  // read 16384 bytes at a time
    auto reads = [&] { return ((5 << 20) - st->input.size()) / 16384; };
    st->reading();
    // Every chunk read is kept: 257 chunks pass 4194304.
    EXPECT_EQ(reads(), 257u);
    EXPECT_EQ(st->get_in_buffer_size(), 257u * 16384u);
    st->reading();
    EXPECT_EQ(reads(), 257u);
    EXPECT_EQ(take(st->get_binary(16384 * 2, true)).size(), 32768u);
    st->reading();
    EXPECT_EQ(reads(), 259u);
    EXPECT_EQ(st->get_in_buffer_size(), 257u * 16384u);
}

TEST_F(StreamTest, DataEventFollowsTheInBufferTimeout)
{
    // -1: never announced; 0: announced in the pass that read it (the
    // earlier unannounced data included), once.
    for (int timeout : {-1, 0}) {
        st->set_in_buffer_timeout(timeout);
        st->input = "a";
        st->reading();
    }
    st->reading();
    ASSERT_TRUE(wait_for([&] { return events == 1; }));
    EXPECT_EQ(last_id, st->get_id());
    // 1: only in a pass a clock second after the data came.
    st->set_in_buffer_timeout(1);
    st->input = "c";
    st->reading();
    unsigned int arrived = vek_get_curr_time();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(vek_get_curr_time() != arrived || events == 1);
    ASSERT_TRUE(wait_for([&] { return vek_get_curr_time() > arrived; }, 3000));
    st->reading();
    EXPECT_TRUE(wait_for([&] { return events == 2; }));
}

TEST_F(StreamTest, OutputIsBufferedUntilItsTimeoutAndResentExactly)
{
    // Buffered writes leave together once the out timeout has run out.
    st->set_out_buffer_timeout(2);
    unsigned int first = vek_get_curr_time();
    for (const char* t : {"one ", "two ", "three"}) EXPECT_TRUE(st->put_text(t));
    for (bool early = true; early; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        st->bg_task();
        early = vek_get_curr_time() < first + 2;
        EXPECT_TRUE(!early || st->writes.empty());
    }
    st->bg_task();
    EXPECT_EQ(st->writes, std::vector<std::string>{"one two three"});

    // A flush resends exactly the unsent rest.
    st->writes.clear();
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

TEST_F(StreamTest, AnExpiredLockIsTakenOver)
{
    unsigned int start = vek_get_curr_time();
    std::thread([&] { st->lock(1); }).join();  // never unlocked
    EXPECT_NE(st->lock_owner(), 0u);
    EXPECT_TRUE(st->lock(1));
    EXPECT_GE(vek_get_curr_time(), start + 1);
    EXPECT_EQ(st->lock_owner(), static_cast<unsigned int>(vek_get_thread_id()));
    EXPECT_TRUE(st->lock(3));  // nested: no wait
    for (int i = 0; i < 2; ++i) st->unlock();
    EXPECT_EQ(st->lock_owner(), 0u);
}

}  // namespace
