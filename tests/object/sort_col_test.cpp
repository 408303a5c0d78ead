#include <gtest/gtest.h>
#include <vek/vek_core.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace {

int count_of(vek::i_object* o)
{
    o->addref();
    return o->release();
}

// Counts its live instances; `tag` tells equally named items apart. With
// `named` false it has no name interface.
class sort_item : public vek::object, public vek::i_named_object_impl {
public:
    static std::atomic<int> s_live;
    const char* tag;

    sort_item(const char* name, const char* tag_, bool named = true) : tag(tag_), m_named(named)
    {
        set_name(name);
        ++s_live;
    }
    ~sort_item() override { --s_live; }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (m_named && std::strcmp(iface_name, "i_named_object") == 0)
            return *pp_obj = static_cast<vek::i_named_object*>(this), true;
        return object::get_interface(iface_name, pp_obj);
    }

private:
    bool m_named;
};

std::atomic<int> sort_item::s_live{0};

std::string tags_of(vek::i_object_col* col)
{
    std::string out;
    for (unsigned int i = 0; i < col->get_count(); ++i) {
        vek::i_object* o = col->get_item_by_pos(i);
        out += (out.empty() ? "" : " ") + std::string(dynamic_cast<sort_item*>(o)->tag);
        o->release();
    }
    return out;
}

TEST(SortColTest, OrdersByBytesWithStableTiesAndDropsUnnamedItems)
{
    EXPECT_EQ(vek_sort_col(nullptr, true), nullptr);
    vek::i_object_col_x* src = vek_create_col();
    std::vector<sort_item*> items = {
        new sort_item("b", "b"),     new sort_item("a", "a1"),   new sort_item("x", "none", false),
        new sort_item("a", "a2"),    new sort_item("", "empty"), new sort_item("B", "B"),
        new sort_item("\xe4", "e4"), new sort_item("a", "a3"),
    };
    for (sort_item* it : items) {
        it->addref();
        src->add_item(it);
    }

    vek::i_object_col* up = vek_sort_col(src, true);
    vek::i_object_col* down = vek_sort_col(src, false);
    EXPECT_EQ(count_of(up), 1);
    void* p = nullptr;
    EXPECT_FALSE(up->get_interface("i_object_col_x", &p));
    // Case-sensitive, bytes unsigned: "B" before "a", 0xe4 after "b".
    EXPECT_EQ(tags_of(up), "empty B a1 a2 a3 b e4");
    EXPECT_EQ(tags_of(down), "e4 b a3 a2 a1 B empty");
    EXPECT_EQ(tags_of(src), "b a1 none a2 empty B e4 a3");
    EXPECT_EQ(count_of(items[0]), 4);
    EXPECT_EQ(count_of(items[2]), 2);  // its temporary reference went back

    EXPECT_EQ(up->release(), 0);
    EXPECT_EQ(down->release(), 0);
    EXPECT_EQ(src->release(), 0);
    for (sort_item* it : items) EXPECT_EQ(it->release(), 0);
    EXPECT_EQ(sort_item::s_live, 0);
}

}  // namespace
