// XML parsing and output, each beside a baseline from the same run:
// - parse_text of a generated 10 MB document (elements with attributes and
//   text) beside raw Expat with empty callbacks on the same bytes, the
//   ceiling for any Expat-based tree builder;
// - select_nodes over a 100 000-node tree, beside a plain walk of the same
//   children through get_child_nodes;
// - get_xml(true) throughput;
// - the heap and the resident memory a parsed tree of that document takes,
//   beside the document's own size (the counters are the ratios).
#include <expat.h>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <vek/vek_core.h>

namespace {

std::string make_document(std::size_t target_bytes)
{
    std::string doc = "<catalog version=\"1\">\n";
    for (unsigned int i = 0; doc.size() < target_bytes; ++i) {
        std::string n = std::to_string(i);
        doc += "  <item id=\"" + n + "\" sku=\"SKU-" + n + "\" available=\"yes\">\n";
        doc += "    <title>Item number " + n + " &amp; friends</title>\n";
        doc += "    <price currency=\"EUR\">" + std::to_string(i % 997) + ".95</price>\n";
        doc += "    <tags><tag>red</tag><tag>blue</tag><tag>size-" + std::to_string(i % 7) + "</tag></tags>\n";
        doc += "  </item>\n";
    }
    doc += "</catalog>\n";
    return doc;
}

const std::string& document()
{
    static const std::string doc = make_document(10 * 1024 * 1024);
    return doc;
}

vek::i_xml_proc* processor()
{
    static vek::i_xml_proc* proc = [] {
        vek_enable_trace(false);
        vek_initialize();
        vek::i_object* svc = vek_core()->get_service("svc_xml");
        vek::i_xml_proc* p = vek_cast_i_xml_proc(svc);
        svc->release();  // the core keeps it
        return p;
    }();
    return proc;
}

void XMLCALL on_start(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL on_end(void*, const XML_Char*) {}
void XMLCALL on_text(void*, const XML_Char*, int) {}

void BM_raw_expat(benchmark::State& state)
{
    const std::string& doc = document();
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetElementHandler(parser, on_start, on_end);
        XML_SetCharacterDataHandler(parser, on_text);
        benchmark::DoNotOptimize(XML_Parse(parser, doc.data(), static_cast<int>(doc.size()), 1));
        XML_ParserFree(parser);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_raw_expat)->Unit(benchmark::kMillisecond);

// A released tree is taken apart once the pool closes the block its root
// came from; filling that block now keeps the teardown out of the timing.
void tear_down(vek::i_xml_node* root)
{
    root->release();
    for (int i = 0; i < 100; ++i) processor()->create_node("x")->release();
}

void BM_parse_text(benchmark::State& state)
{
    const std::string& doc = document();
    for (auto _ : state) {
        vek::i_xml_node* root = processor()->parse_text(doc.c_str());
        state.PauseTiming();
        if (root != nullptr) tear_down(root);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_parse_text)->Unit(benchmark::kMillisecond);

void BM_release_tree(benchmark::State& state)
{
    const std::string& doc = document();
    for (auto _ : state) {
        state.PauseTiming();
        vek::i_xml_node* root = processor()->parse_text(doc.c_str());
        state.ResumeTiming();
        tear_down(root);
    }
}
BENCHMARK(BM_release_tree)->Unit(benchmark::kMillisecond);

std::size_t heap_in_use()
{
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Resident bytes of the process.
std::size_t resident()
{
    std::size_t pages = 0, resident_pages = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident_pages;
    return resident_pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// The largest growth over the iterations counts.
void BM_tree_memory(benchmark::State& state)
{
    const std::string& doc = document();
    double heap = 0, rss = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Pages freed earlier go back first, so the tree cannot reuse them.
        malloc_trim(0);
        state.ResumeTiming();
        std::size_t heap_before = heap_in_use(), rss_before = resident();
        vek::i_xml_node* root = processor()->parse_text(doc.c_str());
        state.PauseTiming();
        // What the parse used only while it ran (Expat's copy of the text
        // among it) goes back too: the tree is what stays.
        malloc_trim(0);
        heap = std::max(heap, static_cast<double>(heap_in_use() - heap_before) / static_cast<double>(doc.size()));
        rss = std::max(rss, static_cast<double>(resident() - rss_before) / static_cast<double>(doc.size()));
        if (root != nullptr) tear_down(root);
        state.ResumeTiming();
    }
    state.counters["heap_per_doc_byte"] = heap;
    state.counters["rss_per_doc_byte"] = rss;
}
BENCHMARK(BM_tree_memory)->Unit(benchmark::kMillisecond)->Iterations(3);

vek::i_xml_node* wide_tree()
{
    static vek::i_xml_node* root = [] {
        std::string doc = "<r>";
        for (int g = 0; g < 1000; ++g) {
            doc += "<g>";
            for (int n = 0; n < 100; ++n) doc += "<n/>";
            doc += "</g>";
        }
        doc += "</r>";
        return processor()->parse_text(doc.c_str());
    }();
    return root;
}

void BM_select_nodes(benchmark::State& state)
{
    vek::i_xml_node* root = wide_tree();
    for (auto _ : state) {
        vek::i_object_col* found = root->select_nodes("g/n");
        benchmark::DoNotOptimize(found->get_count());
        found->release();
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_select_nodes)->Unit(benchmark::kMillisecond);

// The same 100 000 nodes reached through the child lists by hand.
void BM_walk_child_lists(benchmark::State& state)
{
    vek::i_xml_node* root = wide_tree();
    for (auto _ : state) {
        unsigned int total = 0;
        vek::i_object_col* groups = root->get_child_nodes();
        for (unsigned int g = 0; g < groups->get_count(); ++g) {
            vek::i_object* group = groups->get_item_by_pos(g);
            vek::i_object_col* nodes = vek_cast_i_xml_node(group)->get_child_nodes();
            total += nodes->get_count();
            nodes->release();
            group->release();
        }
        groups->release();
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_walk_child_lists)->Unit(benchmark::kMillisecond);

void BM_get_xml_format(benchmark::State& state)
{
    static vek::i_xml_node* root = processor()->parse_text(document().c_str());
    std::size_t bytes = 0;
    for (auto _ : state) {
        char* text = root->get_xml(true);
        bytes = std::strlen(text);
        std::free(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_get_xml_format)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
