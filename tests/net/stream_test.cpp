// The buffered stream classes on a scripted transport.
#include <random>

#include "net_support.h"

namespace {

using vek_test::wait_for;

class StreamTest : public net_test::NetTest {};

TEST_F(StreamTest, RandomChunksAndReadsMatchAModel)
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
    // A delimiter that ends the buffer is found, and the frame comes out once.
    st->input = "GET /a\r\nx: 1\r\n\r\n";
    st->reading();
    EXPECT_EQ(take(st->get_text("\r\n\r\n", true)), "GET /a\r\nx: 1\r\n\r\n");
    EXPECT_EQ(take(st->get_text(nullptr, true)), "<null>");
    EXPECT_EQ(take(st->get_text("", true)), "<null>");
}

// Reads take 16384 bytes at a time and keep every chunk read; 257 chunks
// pass 4194304, where reading stops until data is taken.
TEST_F(StreamTest, ReadingStopsAboveFourMebibytesUntilDataIsTaken)
{
    st->input = std::string(5 << 20, 'x');
    auto reads = [&] { return ((5 << 20) - st->input.size()) / 16384; };
    st->reading();
    EXPECT_EQ(reads(), 257u);
    st->reading();
    EXPECT_EQ(reads(), 257u);
    EXPECT_EQ(take(st->get_binary(16384 * 2, true)).size(), 32768u);
    st->reading();
    EXPECT_EQ(reads(), 259u);
    EXPECT_EQ(st->get_in_buffer_size(), 257u * 16384u);
}

// -1 (the fixture's): never announced; 0: announced in the pass that read
// it, the earlier unannounced data included, once; 1: only in a pass a clock
// second after the data came.
TEST_F(StreamTest, DataIsAnnouncedAsTheInBufferTimeoutSays)
{
    for (int timeout : {-1, 0}) {
        st->set_in_buffer_timeout(timeout);
        st->input = "a";
        st->reading();
        EXPECT_EQ(st->unannounced_since() == 0, timeout == 0) << timeout;
    }
    st->reading();
    ASSERT_TRUE(wait_for([&] { return events == 1; }));
    EXPECT_EQ(last_id, st->get_id());
    st->set_in_buffer_timeout(1);
    unsigned int before = vek_get_curr_time();
    st->input = "c";
    st->reading();
    unsigned int came = st->unannounced_since();
    EXPECT_TRUE(came != 0 || vek_get_curr_time() != before);
    ASSERT_TRUE(wait_for([&] { return vek_get_curr_time() > came; }, 3000));
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
    st->set_out_buffer_timeout(100);
    EXPECT_TRUE(st->put_text("abcdefgh"));
    EXPECT_TRUE(st->put_byte('i'));
    st->write_results = {3, -1, 2, 0};
    st->flush_out_buffer();  // 3 written, then an error keeps the rest
    st->flush_out_buffer();  // 2 more, then the transport takes nothing
    st->flush_out_buffer();
    EXPECT_EQ(st->writes, (std::vector<std::string>{"one two three", "abcdefghi", "defghi", "defghi", "fghi", "fghi"}));
    st->set_out_buffer_timeout(0);
    st->write_results = {4};
    EXPECT_FALSE(st->put_binary("12345", 5));  // unbuffered and short
    EXPECT_TRUE(st->put_binary("12345", 0));
    EXPECT_FALSE(st->put_text(nullptr));
    EXPECT_EQ(st->writes.size(), 7u);
}

TEST_F(StreamTest, AnExpiredLockIsTakenOver)
{
    unsigned int start = vek_get_curr_time();
    std::thread([&] { st->lock(1); }).join();  // never unlocked
    EXPECT_TRUE(st->lock(1));
    EXPECT_GE(vek_get_curr_time(), start + 1);
    EXPECT_EQ(st->lock_owner(), static_cast<unsigned int>(vek_get_thread_id()));
    EXPECT_TRUE(st->lock(3));  // nested: no wait
    for (int i = 0; i < 2; ++i) st->unlock();
    EXPECT_EQ(st->lock_owner(), 0u);
}

}  // namespace
