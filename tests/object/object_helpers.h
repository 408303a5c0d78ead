// Helpers shared by the object model tests.
#ifndef VEK_TESTS_OBJECT_HELPERS_H
#define VEK_TESTS_OBJECT_HELPERS_H

#include <atomic>
#include <regex>
#include <string>

#include "test_support.h"

namespace {

using vek_test::count_of;
using vek_test::probe;

// Gives the caller one reference.
auto held = [](auto* p) { return p->addref(), p; };

// The bytes a buffer or a block writer holds.
auto data_of = [](auto* b) { return std::string(static_cast<const char*>(b->get_data()), b->get_data_size()); };

// Captured trace lines without their time stamps.
auto untimed = [](const std::string& out) { return std::regex_replace(out, std::regex("\\d{4}/.{14}: "), ""); };

// A pooled element. Own = 1 keeps its own count, as the XML node does;
// Own = 0 leaves it at 0, as the pooled value types do. A second
// personal_destruct of one element would show in `destructs`. Each test
// has a Tag of its own.
template <int Own, int Tag>
struct counted : vek::array_object<counted<Own, Tag>> {
    static inline std::atomic<int> live{0}, destructs{0};
    int runs = (++live, 0);
    counted() { this->m_own_count = Own; }
    ~counted() override { --live; }
    void personal_destruct() override { destructs += ++runs; }
    // "live/destructs"
    static std::string state() { return std::to_string(live) + "/" + std::to_string(destructs); }
};

}  // namespace

#endif
