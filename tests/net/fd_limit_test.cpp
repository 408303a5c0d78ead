// With every descriptor in use the service cannot accept; it must neither
// spin nor stop, and accepts resume once descriptors are free. A program of
// its own, since it takes the process's descriptor limit down.
#include <sys/resource.h>

#include <ctime>

#include "net_support.h"

namespace {

class FdLimitTest : public net_test::NetTest {};

TEST_F(FdLimitTest, AcceptsResumeAfterDescriptorsRunOut)
{
    accept_them = false;
    ASSERT_TRUE(init("127.0.0.1", port));
    for (int i = 0; i < 20; ++i) owned.push_back(socket(AF_INET, SOCK_STREAM, 0));
    rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low{static_cast<rlim_t>(open_fds() + 16), saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int d; (d = dup(0)) >= 0;) fillers.push_back(d);

    sockaddr_in a = local_addr(port);
    for (int s : owned) EXPECT_EQ(connect(s, sa(a), sizeof(a)), 0);
    std::clock_t cpu = std::clock();  // the process's processor time
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, 0.2);  // waiting, not spinning
    EXPECT_EQ(connections, 0);

    for (int d : fillers) close(d);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_TRUE(vek_test::wait_for([&] { return connections == 20; }, 5000)) << connections;
}

}  // namespace
