#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

using vek_test::count_of;
using vek_test::probe;

namespace {

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vek_test::quiet_trace();
        ASSERT_TRUE(vek_initialize());
        core = vek_core();
    }
    void TearDown() override
    {
        vek_terminate();
        EXPECT_EQ(probe::live.load(), 0);
    }
    vek::i_core* core = nullptr;
};

}  // namespace

TEST_F(CoreTest, RegistrationTakesAReferenceAndNeverReplaces)
{
    EXPECT_EQ(core->addref(), 1);  // the core is not counted
    EXPECT_EQ(core->release(), 1);
    EXPECT_EQ(vek_cast_i_core(core), core);

    auto* first = new probe("first");
    first->addref();
    EXPECT_TRUE(core->register_service(first, "svc_a"));
    EXPECT_EQ(count_of(first), 2);
    auto* second = new probe("second");
    second->addref();
    EXPECT_FALSE(core->register_service(second, "svc_a"));
    EXPECT_EQ(count_of(second), 1);
    // A new object with count 0 under a taken name is destroyed, not leaked.
    EXPECT_FALSE(core->register_service(new probe("third"), "svc_a"));
    EXPECT_EQ(probe::live.load(), 2);

    vek::i_object* found = core->get_service("svc_a");
    EXPECT_EQ(found, static_cast<vek::i_object*>(first));
    EXPECT_EQ(count_of(first), 3);
    found->release();
    EXPECT_TRUE(core->unregister_service("svc_a"));
    EXPECT_EQ(count_of(first), 1);
    EXPECT_FALSE(core->unregister_service("svc_a"));
    first->release();

    // Bad input changes nothing.
    EXPECT_FALSE(core->register_service(nullptr, "svc_x"));
    EXPECT_FALSE(core->register_service(second, nullptr));
    EXPECT_FALSE(core->register_service(second, ""));
    EXPECT_EQ(count_of(second), 1);
    EXPECT_FALSE(core->unregister_service(nullptr));
    EXPECT_FALSE(core->unregister_service(""));
    EXPECT_EQ(core->get_service(nullptr), nullptr);
    EXPECT_EQ(core->get_service("svc_missing"), nullptr);
    EXPECT_EQ(core->load_library(""), nullptr);
    second->release();
}

TEST_F(CoreTest, ServicesAreListedInByteOrderAsASnapshot)
{
    for (const char* name : {"svc_b", "svc_B", "svc_a", "Svc_z", "svc_aa"}) {
        EXPECT_TRUE(core->register_service(new probe(name), name));
    }
    vek::i_object_col* list = core->get_services();
    std::vector<std::string> names;
    for (unsigned int i = 0; i < list->get_count(); ++i) {
        vek::i_object* item = list->get_item_by_pos(i);
        names.push_back(vek_cast_i_named_object(item)->get_name());
        item->release();
    }
    // The last four are the library's own "svc_encrypt", "svc_md5_encoder",
    // "svc_string" and "svc_xml".
    EXPECT_EQ(names, (std::vector<std::string>{"Svc_z", "svc_B", "svc_a", "svc_aa", "svc_b", "encryptor", "MD5 encoder",
                                               "string_service", "xml_proc"}));
    EXPECT_TRUE(core->register_service(new probe("later"), "svc_later"));
    EXPECT_EQ(list->get_count(), 9u);
    list->release();
    vek::i_object_col* libs = core->get_libraries();
    EXPECT_EQ(libs->get_count(), 0u);
    libs->release();
}

TEST_F(CoreTest, ConcurrentRegistrationKeepsEveryService)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i) {
                std::string name = "svc_" + std::to_string(t) + "_" + std::to_string(i);
                core->register_service(new probe(name.c_str()), name.c_str());
                vek_release(core->get_service(name.c_str()));
                if (i % 2 == 0) core->unregister_service(name.c_str());
            }
        });
    }
    for (auto& t : threads) t.join();
    vek::i_object_col* list = core->get_services();
    EXPECT_EQ(list->get_count(), 804u);  // with the library's own four services
    list->release();
    EXPECT_EQ(probe::live.load(), 800);
}
