// shop_core: the shop's own module, loaded by config.xml after vek_core.
//
// Its entry adds the message catalogue "shop" to the translator and
// registers the service "svc_shop", which greets in the language named by
// SHOP_LANG: once when the variable first appears (looked for on every
// tick, since the environment file is read after the libraries load) and
// again after every reload of the environment.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include <vek/module.h>
#include <vek/vek_core.h>

namespace {

const char k_tick[] = "VEK_CORE_EVT_BG_TASK";
const char k_env_updated[] = "VEK_CORE_EVT_ENV_UPDATED";

class shop_service : public vek::object {
public:
    shop_service()
    {
        vek_install_handler(k_tick, 0, this, static_cast<vek::vek_event_function>(&shop_service::on_tick));
        vek_install_handler(k_env_updated, 0, this, static_cast<vek::vek_event_function>(&shop_service::on_env));
    }
    ~shop_service() override
    {
        vek_uninstall_handler(k_tick, 0, this, static_cast<vek::vek_event_function>(&shop_service::on_tick));
        vek_uninstall_handler(k_env_updated, 0, this, static_cast<vek::vek_event_function>(&shop_service::on_env));
        // A delivery that picked a handler before the uninstall may still
        // be in it.
        while (m_busy.load() != 0) sleepms(1);
    }
    bool get_interface(const char* iface_name, void** pp_obj) override
    {
        if (std::strcmp(iface_name, "shop_service") == 0) {
            *pp_obj = this;
            return true;
        }
        return object::get_interface(iface_name, pp_obj);
    }

private:
    // Handlers run in pool threads, several at once.
    bool on_tick(vek::i_event*)
    {
        ++m_busy;
        if (!m_greeted.load() && std::getenv("SHOP_LANG") != nullptr && !m_greeted.exchange(true)) greet();
        --m_busy;
        return true;
    }
    bool on_env(vek::i_event*)
    {
        ++m_busy;
        m_greeted = true;
        greet();
        --m_busy;
        return true;
    }
    static void greet()
    {
        const char* lang = std::getenv("SHOP_LANG");
        if (lang == nullptr) lang = "";
        // The text stays valid: the translator never frees a translation.
        vek_trace("shop_core: [%s] %s", lang, vek_translate("Welcome to the shop", lang));
    }

    std::atomic<int> m_busy{0};
    std::atomic<bool> m_greeted{false};
};

}  // namespace

VEK_MODULE_EXPORT void vek_library_entry()
{
    vek::i_object* obj = vek_core()->get_service("svc_translator");
    vek::i_translator* translator = vek_cast_i_translator(obj);
    if (translator != nullptr) translator->add_catalog("shop");
    vek_release(obj);

    auto* svc = new (std::nothrow) shop_service();
    if (svc == nullptr) return;
    svc->addref();
    vek_core()->register_service(svc, "svc_shop");
    svc->release();
}

VEK_MODULE_EXPORT bool vek_library_initialized()
{
    return vek_library_loaded("vek_core");
}

VEK_MODULE_EXPORT const char* vek_library_name()
{
    return "shop_core";
}

VEK_MODULE_EXPORT const char* vek_library_version()
{
    return "1.0.0";
}
