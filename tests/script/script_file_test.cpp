// Script files and script code: the per-engine cache, reloads, loaders,
// failures and encrypted files.
#include "script/script_support.h"

namespace {

using vek_test::count_of;
using vek_test::tcl_value;

class ScriptFileTest : public vek_test::engine_test {
protected:
    // The encrypted file format for a file to be called `name`.
    static std::string encrypted(const std::string& name, const std::string& text)
    {
        unsigned int key = vek_crc32(name.c_str(), static_cast<unsigned int>(name.size() + 1), 0x56454B31);
        vek::i_object* svc = vek_core()->get_service("svc_encrypt");
        vek::i_binary* cipher = vek_cast_i_encryptor(svc)->encrypt(text.data(), text.size(), &key, 4, '2');
        char* b64 = vek_base64_encode(cipher->get_data(), cipher->get_data_size());
        std::string out = std::string("VEKENCF73\n") + b64;
        std::free(b64);
        cipher->release();
        svc->release();
        return out;
    }
};

struct counting_loader {
    int calls = 0;
    bool fail = false;
    static char* load(const char* path, const void* self)
    {
        auto* l = static_cast<counting_loader*>(const_cast<void*>(self));
        ++l->calls;
        return l->fail ? nullptr : vek_read_file(path);
    }
};

TEST_F(ScriptFileTest, AFileIsReadOnceAndReloadedWhenItsTimeChanges)
{
    std::string path = write("a.tcl", "incr runs");
    counting_loader loader;
    vek_enable_trace(true);
    vek_set_trace_facility("trace.txt");
    EXPECT_TRUE(e->execute_file("a.tcl", counting_loader::load, &loader));  // relative to the root
    EXPECT_TRUE(e->execute_file(path.c_str(), counting_loader::load, &loader));
    EXPECT_EQ(loader.calls, 1);
    write("a.tcl", "incr runs 10", 1000001);
    EXPECT_TRUE(e->execute_file(path.c_str(), counting_loader::load, &loader));
    EXPECT_EQ(loader.calls, 2);
    EXPECT_EQ(tcl_value(e, "$runs"), "12");
    vek_set_trace_facility("stdout");
    std::string trace = vek_test::read_text(root / "trace.txt");
    EXPECT_EQ(trace.find("reloading"), trace.rfind("reloading"));  // once
    EXPECT_NE(trace.find(": script_code: reloading script from file '" + path + "'\n"), std::string::npos);
}

TEST_F(ScriptFileTest, MissingUnreadableAndEmptyFilesFail)
{
    counting_loader loader;
    EXPECT_FALSE(e->execute_file(nullptr));
    EXPECT_FALSE(e->execute_file("missing.tcl"));
    std::string path = write("b.tcl", "set b 1");
    loader.fail = true;
    EXPECT_FALSE(e->execute_file(path.c_str(), counting_loader::load, &loader));
    loader.fail = false;
    EXPECT_TRUE(e->execute_file(path.c_str(), counting_loader::load, &loader));
    // Changed, then unreadable: the old code is gone, and the file is tried
    // again until its time matches the last good read, which finds no code.
    touch(path, 1000005);
    loader.fail = true;
    EXPECT_FALSE(e->execute_file(path.c_str(), counting_loader::load, &loader));
    EXPECT_FALSE(e->execute_file(path.c_str(), counting_loader::load, &loader));
    EXPECT_EQ(loader.calls, 4);
    touch(path, 1000000);
    EXPECT_FALSE(e->execute_file(path.c_str(), counting_loader::load, &loader));
    EXPECT_EQ(loader.calls, 4);

    auto* f = new vek::script_file();
    f->addref();
    EXPECT_STREQ(f->get_path(), "");
    EXPECT_FALSE(f->load(nullptr, nullptr, nullptr));
    EXPECT_FALSE(f->load("", nullptr, nullptr));
    EXPECT_TRUE(f->load(path.c_str(), nullptr, nullptr));
    EXPECT_STREQ(f->get_path(), path.c_str());
    EXPECT_FALSE(f->is_raw());
    EXPECT_STREQ(Tcl_GetString(f->get_compiled_code()), "namespace eval vek {\nset b 1\n}");
    EXPECT_EQ(vek_cast_script_file(f), f);
    EXPECT_EQ(vek_cast_script_file(e), nullptr);
    f->release();
}

TEST_F(ScriptFileTest, AFileSourcingOrReloadingItselfEndsWithoutCrashing)
{
    std::string path = root / "self.tcl";
    write("self.tcl", "incr depth\nsource {" + path + "}");
    EXPECT_TRUE(e->execute_file(path.c_str()));
    EXPECT_GT(std::stoi(tcl_value(e, "$depth")), 10);
    // Changes its own time while running, so the inner run replaces the
    // code the outer one is still running.
    std::string p2 = root / "reload.tcl";
    write("reload.tcl", "incr r\nif {$r < 3} {\n file mtime {" + p2 + "} [expr {[file mtime {" + p2 +
                            "}] + 1}]\n source {" + p2 + "}\n}\nincr after");
    EXPECT_TRUE(e->execute_file(p2.c_str()));
    EXPECT_EQ(tcl_value(e, "$r/$after"), "3/3");
}

TEST_F(ScriptFileTest, EncryptedFilesReadOnlyUnderTheirOwnNameWithTheEncryptor)
{
    EXPECT_TRUE(e->execute_file(VEK_SCRIPT_TEST_DATA "/encrypted_fixture.tcl"));
    EXPECT_EQ(tcl_value(e, "$fixture"), "decrypted ok");

    std::string made = write("made.tcl", encrypted("made.tcl", "set made {through svc_encrypt}"));
    EXPECT_TRUE(e->execute_file(made.c_str()));
    EXPECT_EQ(tcl_value(e, "$made"), "through svc_encrypt");
    std::string cipher = encrypted("made.tcl", "set x 1");
    const std::pair<const char*, std::string> bad[] = {
        {"renamed.tcl", cipher},
        {"magic.tcl", "VEKENCF73\nset x 1"},
        {"base64.tcl", "VEKENCF73\n!!!*"},
        {"short.tcl", cipher.substr(0, 14)},
    };
    for (const auto& b : bad) {
        e->release();
        e = svc->get_script_engine();
        EXPECT_FALSE(e->execute_file(write(b.first, b.second).c_str())) << b.first;
    }
    std::string noenc = encrypted("noenc.tcl", "set y 1");
    ASSERT_TRUE(vek_core()->unregister_service("svc_encrypt"));
    e->release();
    e = svc->get_script_engine();
    EXPECT_FALSE(e->execute_file(write("noenc.tcl", noenc).c_str()));
}

TEST_F(ScriptFileTest, ScriptCodeOutlivesAnEngineRebuild)
{
    EXPECT_EQ(vek_create_script_code(nullptr), nullptr);
    vek::i_script_code* code = vek_create_script_code("incr n");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(count_of(code), 1);
    EXPECT_EQ(vek_cast_i_script_code(code), code);
    EXPECT_EQ(code->get_thread_id(), vek_get_thread_id());
    EXPECT_TRUE(e->execute_code(code));
    EXPECT_FALSE(e->execute_text("error stale"));
    e->release();
    e = svc->get_script_engine();  // a new interpreter
    EXPECT_TRUE(e->execute_code(code));
    EXPECT_TRUE(code->set_text("incr n 5"));
    EXPECT_TRUE(e->execute_code(code));
    EXPECT_EQ(tcl_value(e, "$n"), "6");
    EXPECT_FALSE(code->set_text(nullptr));
    code->release();
}

}  // namespace
