// Script engines, each figure beside a baseline from the same run:
// - execute_text of 1 and 5 commands (texts seen before) beside Tcl_Eval of
//   the same commands in a bare interpreter; new texts beside the same;
// - execute_code beside execute_text of new texts and beside
//   Tcl_EvalObjEx of a compiled object;
// - get_script_engine + release while the engine is in use beside a
//   recursive mutex, a std::map find and an atomic increment and decrement;
//   the idle cycle (prelude, then recycling) beside creating, initialising
//   and deleting an interpreter;
// - a cached 15 KB file of 200 procs beside the same file touched before
//   each run and beside Tcl_EvalFile;
// - 2 threads in their own engines beside 1.
#include <fcntl.h>
#include <sys/stat.h>
#include <tcl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include <vek/vek_core.h>

namespace {

const char k_one[] = "set x 1";
const char k_five[] = "set x 1\nincr x\nset y [expr {$x * 2}]\nappend z a\nset w $y";

vek::i_script_service* service()
{
    static vek::i_script_service* svc = [] {
        vek_enable_trace(false);
        setenv("VEK_ROOT_PATH", "/tmp", 1);
        vek_initialize();
        vek_core()->load_library(VEK_CORE_SO);
        return vek_cast_i_script_service(vek_core()->get_service("svc_script"));
    }();
    return svc;
}

Tcl_Interp* bare_interp()
{
    static Tcl_Interp* interp = [] {
        service();
        Tcl_Interp* i = Tcl_CreateInterp();
        Tcl_Init(i);
        return i;
    }();
    return interp;
}

// The engine of the calling thread, held for the whole run.
struct held_engine {
    held_engine() : e(service()->get_script_engine()) {}
    ~held_engine() { e->release(); }
    vek::i_script_engine* e;
};

void BM_ExecuteText(benchmark::State& state, const char* text)
{
    held_engine h;
    for (auto _ : state) benchmark::DoNotOptimize(h.e->execute_text(text));
}
BENCHMARK_CAPTURE(BM_ExecuteText, one_command, k_one);
BENCHMARK_CAPTURE(BM_ExecuteText, five_commands, k_five);

void BM_TclEval(benchmark::State& state, const char* text)
{
    Tcl_Interp* interp = bare_interp();
    for (auto _ : state) benchmark::DoNotOptimize(Tcl_Eval(interp, text));
}
BENCHMARK_CAPTURE(BM_TclEval, one_command, k_one);
BENCHMARK_CAPTURE(BM_TclEval, five_commands, k_five);

void BM_ExecuteNewText(benchmark::State& state)
{
    held_engine h;
    long n = 0;
    for (auto _ : state) {
        std::string text = "set x " + std::to_string(++n);
        benchmark::DoNotOptimize(h.e->execute_text(text.c_str()));
    }
}
BENCHMARK(BM_ExecuteNewText);

void BM_TclEvalNewText(benchmark::State& state)
{
    Tcl_Interp* interp = bare_interp();
    long n = 0;
    for (auto _ : state) {
        std::string text = "set x " + std::to_string(++n);
        benchmark::DoNotOptimize(Tcl_Eval(interp, text.c_str()));
    }
}
BENCHMARK(BM_TclEvalNewText);

void BM_ExecuteCode(benchmark::State& state)
{
    held_engine h;
    vek::i_script_code* code = vek_create_script_code(k_one);
    for (auto _ : state) benchmark::DoNotOptimize(h.e->execute_code(code));
    code->release();
}
BENCHMARK(BM_ExecuteCode);

void BM_TclEvalObjExCompiled(benchmark::State& state)
{
    Tcl_Interp* interp = bare_interp();
    Tcl_Obj* obj = Tcl_NewStringObj(k_one, -1);
    Tcl_IncrRefCount(obj);
    for (auto _ : state) benchmark::DoNotOptimize(Tcl_EvalObjEx(interp, obj, TCL_EVAL_GLOBAL));
    Tcl_DecrRefCount(obj);
}
BENCHMARK(BM_TclEvalObjExCompiled);

void BM_GetReleaseInUse(benchmark::State& state)
{
    held_engine h;
    for (auto _ : state) {
        vek::i_script_engine* e = service()->get_script_engine();
        benchmark::DoNotOptimize(e);
        e->release();
    }
}
BENCHMARK(BM_GetReleaseInUse);

void BM_MutexMapAtomic(benchmark::State& state)
{
    std::recursive_mutex lock;
    std::map<unsigned long, int> table{{1, 1}, {2, 2}, {3, 3}};
    std::atomic<int> count{1};
    unsigned long key = 2;
    for (auto _ : state) {
        {
            std::lock_guard<std::recursive_mutex> guard(lock);
            benchmark::DoNotOptimize(table.find(key));
            ++count;
        }
        --count;
    }
}
BENCHMARK(BM_MutexMapAtomic);

void BM_IdleCycle(benchmark::State& state)
{
    service()->get_script_engine()->release();  // built once, idle from here
    for (auto _ : state) service()->get_script_engine()->release();
}
BENCHMARK(BM_IdleCycle);

void BM_CreateInitDeleteInterp(benchmark::State& state)
{
    service();
    for (auto _ : state) {
        Tcl_Interp* interp = Tcl_CreateInterp();
        Tcl_Init(interp);
        Tcl_DeleteInterp(interp);
    }
}
BENCHMARK(BM_CreateInitDeleteInterp);

const std::string& proc_file()
{
    static const std::string path = [] {
        std::string p = "/tmp/vek_script_bench_" + std::to_string(getpid()) + ".tcl";
        std::FILE* f = std::fopen(p.c_str(), "w");
        for (int i = 0; i < 200; ++i) {
            std::fprintf(f, "proc bench_proc_%03d {a b} {\n    set c [expr {$a + $b}]\n    return $c\n}\n", i);
        }
        std::fclose(f);
        return p;
    }();
    return path;
}

void touch(const std::string& path, time_t t)
{
    timespec times[2] = {{t, 0}, {t, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void BM_ExecuteCachedFile(benchmark::State& state)
{
    held_engine h;
    const std::string& path = proc_file();
    for (auto _ : state) benchmark::DoNotOptimize(h.e->execute_file(path.c_str()));
}
BENCHMARK(BM_ExecuteCachedFile);

void BM_ExecuteTouchedFile(benchmark::State& state)
{
    held_engine h;
    const std::string& path = proc_file();
    time_t t = 1000000;
    for (auto _ : state) {
        touch(path, ++t);
        benchmark::DoNotOptimize(h.e->execute_file(path.c_str()));
    }
}
BENCHMARK(BM_ExecuteTouchedFile);

void BM_TclEvalFile(benchmark::State& state)
{
    Tcl_Interp* interp = bare_interp();
    const std::string& path = proc_file();
    for (auto _ : state) benchmark::DoNotOptimize(Tcl_EvalFile(interp, path.c_str()));
}
BENCHMARK(BM_TclEvalFile);

// Each benchmark thread runs in its own engine (built on its first call).
void BM_ThreadsInOwnEngines(benchmark::State& state)
{
    vek::i_script_engine* e = service()->get_script_engine();
    for (auto _ : state) benchmark::DoNotOptimize(e->execute_text(k_five));
    e->release();
}
BENCHMARK(BM_ThreadsInOwnEngines)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
