#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "test_support.h"

namespace {

using vek_test::probe;

// Answers neither "i_named_object" nor "i_typed_object".
struct unnamed : probe {
    using probe::probe;
    bool get_interface(const char* n, void** pp) override { return vek::object::get_interface(n, pp); }
};

struct hooked : probe {
    using probe::probe;
    std::function<void(hooked*)> on_destroy;
    ~hooked() override { on_destroy(this); }
};

// Gives the caller one reference.
auto held = [](auto* p) { return p->addref(), p; };

// The items' ids in order, "-" for an item without one.
std::string ids_of(vek::i_object_col* col)
{
    std::string out;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        vek::i_object* o = col->get_item_by_pos(i);
        vek::i_typed_object* t = vek_cast_i_typed_object(o);
        out += (i ? " " : "") + (t ? std::to_string(t->get_id()) : "-");
        o->release();
    }
    return out;
}

TEST(ColTest, EveryOperationKeepsOneReferencePerStoredPointer)
{
    EXPECT_EQ(vek_create_col()->release(), 0);
    auto* col = held(new vek::object_col_x);
    probe *a = held(new probe("a", 1)), *b = held(new probe("dup", 7)), *c = held(new probe("dup", 8));
    probe* u = held(new unnamed("x", 7));
    col->insert_item(a, 5);                                // empty: appends
    for (probe* p : {u, b, c, a}) col->add_item(p, true);  // a is present: not added
    col->add_item(a, false);
    col->insert_item(c, 1);
    // Null arguments change nothing.
    col->add_item(nullptr), col->insert_item(nullptr, 0), col->remove_item(nullptr), col->add_col(nullptr, false);
    EXPECT_EQ(ids_of(col), "1 8 - 7 8 1");

    vek::i_object* o = col->get_item_by_name("dup");  // the first match, a new reference
    EXPECT_EQ(o, c);
    EXPECT_EQ(o->release(), 3);
    o = col->get_item_by_id(7);  // the unnamed, untyped 7 is skipped
    EXPECT_EQ(o, b);
    EXPECT_EQ(o->release(), 2);
    for (const char* name : {"x", "DUP", static_cast<const char*>(nullptr)})
        EXPECT_EQ(col->get_item_by_name(name), nullptr);
    EXPECT_EQ(col->get_item_by_pos(6), nullptr);

    col->remove_item(a);  // only the first occurrence
    vek::object_col* copy = col->copy();
    copy->remove_item(c);
    EXPECT_EQ(ids_of(copy) + " | " + ids_of(col), "- 7 8 1 | 8 - 7 8 1");
    auto* dst = held(new vek::object_col_x);
    dst->add_item(b);
    dst->add_col(col, true);
    dst->add_col(dst, false);  // the count is read once
    EXPECT_EQ(ids_of(dst), "7 8 - 1 7 8 - 1");
    dst->clear();
    EXPECT_EQ(dst->get_count(), 0u);

    EXPECT_EQ(dst->release() + copy->release() + col->release(), 0);
    for (probe* p : {a, b, c, u}) EXPECT_EQ(p->release(), 0);
    EXPECT_EQ(probe::live, 0);
}

TEST(ColTest, ItemsAreReleasedInOrderAfterTheLockIsDropped)
{
    auto* col = held(new vek::object_col_x);
    std::string seen;  // name, lock count, item count per destruction
    for (const char* name : {"a", "b", "c"}) {
        hooked* it = new hooked(name);
        it->on_destroy = [&seen, col](hooked* self) {
            seen += self->get_name() + std::to_string(col->lock_count()) + std::to_string(col->get_count()) + " ";
            if (vek::i_object* o = col->get_item_by_pos(0)) o->release();  // calls back in
        };
        col->add_item(it);  // the only reference
    }
    vek::i_object* b = col->get_item_by_name("b");
    b->release();
    col->remove_item(b);
    col->clear();
    EXPECT_EQ(seen, "b02 a00 c00 ");  // already empty when the first cleared item goes
    EXPECT_EQ(col->release(), 0);
    EXPECT_EQ(probe::live, 0);
}

TEST(ColTest, EightThreadsAddInsertRemoveAndReadConsistently)
{
    auto* col = held(new vek::object_col_x);
    std::atomic<int> bad{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&, t] {
            std::vector<probe*> mine;
            for (unsigned int i = 0; i < 200; ++i) {
                mine.push_back(held(new probe("", t * 1000 + i)));
                i % 2 ? col->insert_item(mine.back(), i) : col->add_item(mine.back(), true);
                vek::i_object* o = col->get_item_by_id(t * 1000 + i);
                bad += o != mine.back();
                o->release();
                col->get_item_by_pos(i % col->get_count())->release();
                if (i % 50 == 0) col->copy()->release();
            }
            for (size_t i = 0; i < mine.size(); i += 2) col->remove_item(mine[i]);
            for (probe* it : mine) it->release();
        });
    }
    for (auto& w : workers) w.join();

    EXPECT_EQ(bad, 0);
    EXPECT_EQ(col->get_count(), 800u);
    EXPECT_EQ(probe::live, 800);
    EXPECT_EQ(col->get_item_by_id(3001)->release(), 1);  // the collection's
    EXPECT_EQ(col->release(), 0);
    EXPECT_EQ(probe::live, 0);
}

}  // namespace
