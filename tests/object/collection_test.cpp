#include <gtest/gtest.h>
#include <vek/vek_core.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

int count_of(vek::i_object* o)
{
    o->addref();
    return o->release();
}

// Counts its live instances. With `named` false it answers neither interface.
class col_item : public vek::object, public vek::i_named_object_impl, public vek::i_typed_object_impl {
public:
    static std::atomic<int> s_live;
    std::function<void(col_item*)> on_destroy;

    col_item(const char* name, long long id, bool named) : m_named(named)
    {
        set_name(name);
        m_id = id;
        ++s_live;
    }
    ~col_item() override
    {
        if (on_destroy) on_destroy(this);
        --s_live;
    }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (m_named && std::strcmp(iface_name, "i_named_object") == 0)
            return *pp_obj = static_cast<vek::i_named_object*>(this), true;
        if (m_named && std::strcmp(iface_name, "i_typed_object") == 0)
            return *pp_obj = static_cast<vek::i_typed_object*>(this), true;
        return object::get_interface(iface_name, pp_obj);
    }

private:
    bool m_named;
};

std::atomic<int> col_item::s_live{0};

// One reference held by the caller.
template <class T, class... Args>
T* make(Args... args)
{
    T* p = new T(args...);
    p->addref();
    return p;
}

col_item* item(const char* name, long long id = 0, bool named = true)
{
    return make<col_item>(name, id, named);
}

std::string names_of(vek::i_object_col* col)
{
    std::string out;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        vek::i_object* o = col->get_item_by_pos(i);
        out += (out.empty() ? "" : " ") + std::string(vek_cast_i_named_object(o)->get_name());
        o->release();
    }
    return out;
}

class ColTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(col_item::s_live, 0); }
};

TEST_F(ColTest, CreatedCollectionAnswersExactNamesWithOneReference)
{
    vek::i_object_col_x* col = vek_create_col();
    EXPECT_EQ(count_of(col), 1);
    void* p = nullptr;
    ASSERT_TRUE(col->get_interface("i_object_col_x", &p));
    EXPECT_EQ(p, static_cast<void*>(col));
    EXPECT_STREQ(vek_cast_i_named_object(col)->get_name(), "");
    EXPECT_TRUE(col->get_interface("i_object_col", &p));
    for (const char* wrong : {"i_object", "I_OBJECT_COL", "i_object_co", "i_object_col_xx"}) {
        EXPECT_FALSE(col->get_interface(wrong, &p)) << wrong;
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(col->release(), 0);
    vek::object_col plain;
    EXPECT_FALSE(plain.get_interface("i_object_col_x", &p));
    EXPECT_FALSE(plain.get_interface("i_named_object", &p));
}

TEST_F(ColTest, AddInsertRemoveKeepOneReferencePerStoredPointer)
{
    auto* col = make<vek::object_col_x>();
    col_item *a = item("a"), *b = item("b"), *c = item("c");
    col->insert_item(a, 0);  // empty: appends
    col->add_item(nullptr);
    col->insert_item(nullptr, 0);
    col->add_item(b);
    col->add_item(a, false);
    col->add_item(a, true);  // present: nothing changes
    col->insert_item(c, 99);
    col->insert_item(c, 1);
    EXPECT_EQ(names_of(col), "a c b a c");
    EXPECT_EQ(count_of(a), 3);
    EXPECT_EQ(count_of(c), 3);

    col->remove_item(a);  // only the first occurrence
    col->remove_item(nullptr);
    EXPECT_EQ(names_of(col), "c b a c");
    EXPECT_EQ(count_of(a), 2);
    col->remove_item(a);
    col->remove_item(a);  // no longer present
    EXPECT_EQ(count_of(a), 1);
    EXPECT_EQ(col->get_count(), 3u);

    for (auto* it : {a, b, c}) it->release();
    EXPECT_EQ(col_item::s_live, 2);
    EXPECT_EQ(col->release(), 0);  // destruction releases the rest
}

TEST_F(ColTest, LookupsReturnFirstMatchWithNewReference)
{
    auto* col = make<vek::object_col_x>();
    col_item* items[] = {item("x", 7, false), item("dup", 7), item("dup", 8), item("", 9)};
    for (auto* it : items) col->add_item(it);

    vek::i_object* o = col->get_item_by_name("dup");
    EXPECT_EQ(o, static_cast<vek::i_object*>(items[1]));
    EXPECT_EQ(count_of(o), 3);
    o->release();
    o = col->get_item_by_id(7);  // the unnamed, untyped 7 is skipped
    EXPECT_EQ(o, static_cast<vek::i_object*>(items[1]));
    o->release();
    o = col->get_item_by_pos(3);
    EXPECT_EQ(o, static_cast<vek::i_object*>(items[3]));
    o->release();
    EXPECT_EQ(col->get_item_by_pos(4), nullptr);
    EXPECT_EQ(col->get_item_by_name("DUP"), nullptr);
    EXPECT_EQ(col->get_item_by_name("x"), nullptr);
    EXPECT_EQ(col->get_item_by_name(nullptr), nullptr);
    EXPECT_EQ(col->get_item_by_id(42), nullptr);
    EXPECT_EQ(col->get_item_pos(""), 3);
    EXPECT_EQ(col->get_item_pos(static_cast<const char*>(nullptr)), -1);
    EXPECT_TRUE(col->reserve(1000));

    for (auto* it : items) EXPECT_EQ(it->release(), 1);
    col->release();
}

TEST_F(ColTest, ItemsAreReleasedInOrderAfterTheLockIsDropped)
{
    auto* col = make<vek::object_col_x>();
    std::string seen;  // name, lock count, item count per destruction
    for (const char* name : {"a", "b", "c"}) {
        col_item* it = item(name);
        it->on_destroy = [&seen, col](col_item* self) {
            seen += self->get_name() + std::to_string(col->lock_count()) + std::to_string(col->get_count()) + " ";
            if (vek::i_object* o = col->get_item_by_pos(0)) o->release();  // calls back in
        };
        col->add_item(it);
        it->release();
    }
    vek::i_object* b = col->get_item_by_name("b");
    b->release();
    col->remove_item(b);
    col->clear();
    // The collection is already empty when the first cleared item goes.
    EXPECT_EQ(seen, "b02 a00 c00 ");
    EXPECT_EQ(col->release(), 0);
}

TEST_F(ColTest, CopyAndAddColTakeTheirOwnReferences)
{
    auto* src = make<vek::object_col_x>();
    col_item *a = item("a"), *b = item("b");
    src->add_item(a);
    src->add_item(b);

    vek::object_col* copy = src->copy();
    EXPECT_EQ(count_of(copy), 1);
    EXPECT_EQ(names_of(copy), "a b");
    copy->remove_item(a);
    EXPECT_EQ(src->get_count(), 2u);

    auto* dst = make<vek::object_col_x>();
    dst->add_item(b);
    dst->add_col(nullptr, false);
    dst->add_col(src, true);
    EXPECT_EQ(names_of(dst), "b a");
    EXPECT_EQ(count_of(b), 4);  // test, src, copy, dst once
    dst->add_col(dst, false);   // the count is read once
    EXPECT_EQ(names_of(dst), "b a b a");

    for (vek::i_object* o :
         {static_cast<vek::i_object*>(copy), static_cast<vek::i_object*>(dst), static_cast<vek::i_object*>(src)})
        EXPECT_EQ(o->release(), 0);
    EXPECT_EQ(a->release(), 0);
    EXPECT_EQ(b->release(), 0);
}

TEST_F(ColTest, ConcurrentAddRemoveAndReadKeepCountsRight)
{
    const int threads = 8, per_thread = 200;
    auto* col = make<vek::object_col_x>();
    std::atomic<int> bad{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::vector<col_item*> mine;
            for (int i = 0; i < per_thread; ++i) {
                std::string name = std::to_string(t) + "-" + std::to_string(i);
                mine.push_back(item(name.c_str(), t * 1000 + i));
                if (i % 2)
                    col->insert_item(mine.back(), static_cast<unsigned int>(i));
                else
                    col->add_item(mine.back(), true);
                vek::i_object* o = col->get_item_by_name(name.c_str());
                bad += o != static_cast<vek::i_object*>(mine.back());
                o->release();
                col->get_item_by_pos(static_cast<unsigned int>(i) % col->get_count())->release();
                if (i % 50 == 0) col->copy()->release();
            }
            for (int i = 0; i < per_thread; i += 2) col->remove_item(mine[static_cast<size_t>(i)]);
            for (col_item* it : mine) it->release();
        });
    }
    for (auto& w : workers) w.join();

    EXPECT_EQ(bad, 0);
    EXPECT_EQ(col->get_count(), static_cast<unsigned int>(threads * per_thread / 2));
    EXPECT_EQ(col_item::s_live, threads * per_thread / 2);
    EXPECT_EQ(col->get_item_by_id(3000), nullptr);
    vek::i_object* o = col->get_item_by_id(3001);
    EXPECT_EQ(count_of(o), 2);
    o->release();
    col->release();
}

}  // namespace
