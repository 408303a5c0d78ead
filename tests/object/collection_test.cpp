// Collections, their sorted copies and the property manager: every stored
// pointer holds one reference, and stored objects are released only after
// the lock is dropped. Also the one case where eight threads share every
// kind of object at once.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "object_helpers.h"

namespace {

// Answers neither "i_named_object" nor "i_typed_object".
struct unnamed : probe {
    using probe::probe;
    bool get_interface(const char* n, void** pp) override { return vek::object::get_interface(n, pp); }
};

// Runs on_destroy from its destructor.
struct hooked : probe {
    using probe::probe;
    std::function<void(hooked*)> on_destroy;
    ~hooked() override { on_destroy(this); }
};

// Lets a test see whether the manager's lock is held.
struct locked_manager : vek::property_manager {
    unsigned int lock_count() { return m_lock.lock_count(); }
};

// Per item: its id, else "name=value" for a named string, else "-".
// Releases `col` (its last reference) when told to.
std::string items_of(vek::i_object_col* col, bool release_col = false)
{
    std::string out;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        auto_ptr_t<vek::i_object> o(col->get_item_by_pos(i));
        vek::i_typed_object* t = vek_cast_i_typed_object(o);
        vek::i_named_string* s = vek_cast_i_named_string(o);
        out += i ? " " : "";
        out += t ? std::to_string(t->get_id()) : s ? std::string(s->get_name()) + "=" + s->get_value() : "-";
    }
    EXPECT_EQ(release_col ? col->release() : 0, 0);
    return out;
}

// An object handed out with a new reference, as "id/count left once that
// reference is released ", or "null ".
std::string take(vek::i_object* o)
{
    if (o == nullptr) return "null ";
    std::string id = std::to_string(vek_cast_i_typed_object(o)->get_id());
    return id + "/" + std::to_string(o->release()) + " ";
}

TEST(ColTest, EveryOperationKeepsOneReferencePerStoredPointer)
{
    auto* col = held(new vek::object_col_x);
    probe *a = held(new probe("a", 1)), *b = held(new probe("dup", 7)), *c = held(new probe("dup", 8));
    probe* u = held(new unnamed("x", 7));
    col->insert_item(a, 5);                                // empty: appends
    for (probe* p : {u, b, c, a}) col->add_item(p, true);  // a is present: not added
    col->add_item(a, false);
    col->insert_item(c, 1);
    // Null arguments change nothing.
    col->add_item(nullptr), col->insert_item(nullptr, 0), col->remove_item(nullptr), col->add_col(nullptr, false);
    EXPECT_EQ(items_of(col), "1 8 - 7 8 1");
    // By name the first match; by id the unnamed, untyped 7 is skipped.
    EXPECT_EQ(take(col->get_item_by_name("dup")) + take(col->get_item_by_id(7)) + take(col->get_item_by_name("x")) +
                  take(col->get_item_by_name("DUP")) + take(col->get_item_by_name(nullptr)) +
                  take(col->get_item_by_pos(6)),
              "8/3 7/2 null null null null ");

    col->remove_item(a);  // only the first occurrence
    vek::object_col* copy = col->copy();
    copy->remove_item(c);
    EXPECT_EQ(items_of(copy) + " | " + items_of(col), "- 7 8 1 | 8 - 7 8 1");
    auto* dst = held(new vek::object_col_x);
    dst->add_item(b);
    dst->add_col(col, true);
    dst->add_col(dst, false);  // the count is read once
    EXPECT_EQ(items_of(dst), "7 8 - 1 7 8 - 1");
    dst->clear();
    EXPECT_EQ(dst->get_count(), 0u);

    EXPECT_EQ(dst->release() + copy->release() + col->release(), 0);
    for (probe* p : {a, b, c, u}) EXPECT_EQ(p->release(), 0);
}

TEST(SortColTest, OrdersByUnsignedBytesKeepsTiesInOrderAndDropsUnnamedItems)
{
    vek::i_object_col_x* src = vek_create_col();
    for (probe* it :
         std::initializer_list<probe*>{new probe("b", 1), new probe("a", 2), new unnamed("x", 3), new probe("a", 4),
                                       new probe("", 5), new probe("B", 6), new probe("\xe4", 7), new probe("a", 8)})
        src->add_item(it);  // the only reference
    vek::i_object_col *up = vek_sort_col(src, true), *down = vek_sort_col(src, false);
    EXPECT_EQ(vek_cast_i_object_col_x(up), nullptr);
    EXPECT_EQ(items_of(up) + " | " + items_of(down), "5 6 2 4 8 1 7 | 7 1 8 4 2 6 5");  // "" B a a a b 0xe4
    EXPECT_EQ(src->release() + up->release() + down->release(), 0);
    EXPECT_EQ(probe::live, 0);
}

// Each destruction notes the item's id, the collection's and the manager's
// lock counts and the collection's item count. Names of objects and texts
// in a manager ignore case, keep their first spelling and list in folded
// order.
TEST(StoreTest, StoredObjectsGoOnceOutsideTheLockAndManagersFoldNames)
{
    auto* col = held(new vek::object_col_x);
    auto* pm = held(new locked_manager);
    std::string seen;
    auto item = [&](const char* name, long long id) {
        auto* it = new hooked(name, id);
        it->on_destroy = [&seen, col, pm](hooked* self) {
            seen += std::to_string(self->get_id()) + ":" + std::to_string(col->lock_count()) +
                    std::to_string(pm->lock_count()) + std::to_string(col->get_count()) + " ";
        };
        return it;
    };
    hooked* b = item("", 2);
    for (hooked* it : {item("", 1), b, item("", 3)}) col->add_item(it);  // the only reference
    col->remove_item(b);
    col->clear();  // already empty when the first cleared item goes

    hooked *d = held(item("", 4)), *e = item("", 5);
    EXPECT_FALSE(pm->set_object(nullptr, d));
    EXPECT_TRUE(pm->set_object("Slot", d));
    EXPECT_EQ(d->release(), 1);              // the manager's reference only
    EXPECT_TRUE(pm->set_object("slot", d));  // must not destroy it on the way
    EXPECT_EQ(take(pm->get_object("SLOT")) + take(pm->get_object(nullptr)), "4/1 null ");
    EXPECT_TRUE(pm->set_object("other", e));  // the manager's only
    EXPECT_TRUE(pm->set_object("slot", e));   // destroys d
    EXPECT_EQ(items_of(pm->get_objects(), true), "other= Slot=");
    EXPECT_TRUE(pm->set_object("SLOT", nullptr) && pm->get_object("slot") == nullptr);
    EXPECT_TRUE(pm->set_object("OTHER", nullptr));  // destroys e
    EXPECT_EQ(seen, "2:002 1:000 3:000 4:000 5:000 ");

    EXPECT_TRUE(pm->set_property("ghost", ""));  // creates nothing
    for (const char* name : {"b", "Color", "_x", "A"}) pm->set_property(name, name);
    EXPECT_TRUE(pm->set_property("cOLOR", "blue"));
    EXPECT_TRUE(pm->set_property("B", ""));  // empties, keeps the entry
    EXPECT_EQ(items_of(pm->get_properties(), true), "_x=_x A=A b= Color=blue");
    EXPECT_FALSE(pm->set_property(nullptr, "v") || pm->set_property("b", nullptr));
    for (const char* missing : {static_cast<const char*>(nullptr), "ghost", "Colour"})
        EXPECT_STREQ(pm->get_property(missing), "");
    EXPECT_EQ(pm->release() + col->release(), 0);
    EXPECT_EQ(probe::live, 0);
}

using shared_node = counted<1, 9>;

// Each thread hammers the counts of one plain and one pooled object, takes
// a reentrant mutex and draws on the pool, then fills its part of a shared
// collection while replacing one object of a shared manager: its only
// reference, so a replacement by another thread destroys it.
TEST(ConcurrencyTest, EightThreadsShareCountsPoolsACollectionAManagerAndAMutex)
{
    auto* obj = held(new probe);
    auto* col = held(new vek::object_col_x);
    vek::i_property_manager* pm = vek_create_property_manager();
    auto pool = std::make_unique<vek::array_object_factory<shared_node>>(100, true);
    shared_node* node = pool->create(nullptr);
    vek::mutex m;
    long long locked_total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            std::vector<probe*> mine;
            for (unsigned int i = 0; i < 250; ++i) {
                for (int k = 0; k < 40; ++k) {
                    obj->addref(), node->addref(), obj->release(), node->release();
                    vek::mutex_locker hold(&m), again(&m);
                    ++locked_total;
                }
                pool->create(nullptr)->release();
                mine.push_back(held(new probe("", t * 1000 + i)));
                i % 2 ? col->insert_item(mine.back(), i) : col->add_item(mine.back(), true);
                EXPECT_EQ(auto_ptr_t<vek::i_object>(col->get_item_by_id(t * 1000 + i)), mine.back());
                pm->set_object(i % 2 ? "Shared" : "SHARED", new probe);
                pm->get_object("shared")->release();
            }
            for (size_t i = 0; i < mine.size(); i += 2) col->remove_item(mine[i]);
            for (probe* it : mine) it->release();
        });
    for (auto& th : threads) th.join();

    EXPECT_EQ(locked_total, 8 * 250 * 40);
    EXPECT_EQ(col->get_count(), 1000u);
    EXPECT_EQ(probe::live, 1002);  // with obj and the last "shared" object
    EXPECT_EQ(items_of(pm->get_objects(), true), "SHARED=");
    EXPECT_EQ(pm->release() + col->release() + obj->release(), 0);
    EXPECT_EQ(probe::live, 0);
    node->release();
    pool.reset();
    EXPECT_EQ(shared_node::state(), "0/2100");  // 21 blocks, each element destructed once

    // A cancelled locker lets go once, and never again when it goes.
    m.lock();
    {
        vek::mutex_locker hold(&m), none(nullptr);
        hold.cancel();
        hold.cancel();
        EXPECT_EQ(m.lock_count(), 1u);
    }
    EXPECT_EQ(m.lock_count(), 1u);
    m.unlock();
    std::thread([&] { vek::mutex_locker hold(&m); }).join();  // free for others
}

}  // namespace
