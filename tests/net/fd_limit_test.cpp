// With every descriptor in use the service cannot accept; it must neither
// spin nor stop, and accepts resume once descriptors are free. A program of
// its own, since it takes the process's descriptor limit down.
#include <sys/resource.h>

#include "net_support.h"

namespace {

class counting : public vek::tcp_listener {
public:
    bool on_connection(unsigned int, const char*) override
    {
        ++count;
        return false;
    }
    std::atomic<int> count{0};
};

double cpu_seconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class fd_limit_test : public net_test::net_fixture {};

TEST_F(fd_limit_test, accepts_resume_after_descriptors_run_out)
{
    counting listener;
    unsigned short port = net_test::free_port();
    ASSERT_TRUE(listener.init("127.0.0.1", port));
    std::vector<int> clients;
    for (int i = 0; i < 20; ++i) clients.push_back(socket(AF_INET, SOCK_STREAM, 0));

    rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(net_test::open_fds() + 16);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int d; (d = dup(0)) >= 0;) fillers.push_back(d);

    sockaddr_in a = net_test::local_addr(port);
    for (int s : clients) EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    double cpu = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(cpu_seconds() - cpu, 0.2);  // waiting, not spinning
    EXPECT_EQ(listener.count, 0);

    for (int d : fillers) close(d);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_TRUE(vek_test::wait_for([&] { return listener.count == 20; }, 5000)) << listener.count;
    for (int s : clients) close(s);
    listener.stop();
}

}  // namespace
