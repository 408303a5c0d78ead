// A loaded module as the core lists it. The object does not unload the
// module; vek_terminate does, after every service is gone.
#ifndef VEK_CORE_LIBRARY_H
#define VEK_CORE_LIBRARY_H

#include <string>

#include "vek/core.h"
#include "vek/object.h"

namespace vek {

// Answers "i_vek_library" and "i_named_object".
class vek_library : public object, public i_named_object_impl, public virtual i_vek_library {
public:
    // Reads the name and version through the module's optional exports.
    vek_library(void* handle, const char* path);

    const char* get_path() override;
    const char* get_version() override;
    void* get_handle() override;
    bool get_interface(const char* iface_name, void** pp_obj) override;

private:
    void* m_handle;
    std::string m_path;
    std::string m_version;
};

}  // namespace vek

#endif
