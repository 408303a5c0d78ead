// The tracking hooks every framework binding calls, on the tables of the
// calling thread's script engine. Without an engine they count nothing, but
// the objects bindings hand out are still entered, so that
// vek_tcl_test_object answers for them and for nothing else.
#include "object/cast_impl.h"
#include "script/script_tracking.h"
#include "script/tcl_binding/handle_index.h"
#include "vek/core.h"
#include "vek/script.h"

namespace {

// The object scripts are tracked by: `obj`, or the object it stands for.
// Null ends the hook. `stand_in` receives the reference the stand-in
// returned, for the caller to release after use.
vek::i_object* tracked(vek::i_object* obj, vek::i_object** stand_in)
{
    *stand_in = nullptr;
    vek::i_script_object_subsitutor* sub = vek_cast_i_script_object_subsitutor(obj);
    if (sub == nullptr) return obj;
    *stand_in = sub->get_object_pointer();
    return *stand_in;
}

// Releases the stand-in's reference when the hook is done with it.
struct stand_in_ref {
    vek::i_object* obj = nullptr;
    ~stand_in_ref()
    {
        if (obj != nullptr) obj->release();
    }
};

}  // namespace

VEK_DEFINE_CAST(vek::i_script_object_subsitutor, i_script_object_subsitutor)

void vek_tcl_register_object(vek::i_object* obj, Tcl_Command token)
{
    if (obj == nullptr) return;
    vek::script_tracking* tracking = vek::script_tracking::current();
    // A binding handed `obj` out: vek_tcl_test_object may read it now.
    // Out of memory it stays unknown, which only refuses it later.
    try {
        if (tracking != nullptr) {
            tracking->note_object(obj);
        } else {
            vek::tcl::shared_add_object(obj);
        }
    } catch (...) {
    }
    if (tracking == nullptr) return;
    stand_in_ref ref;
    obj = tracked(obj, &ref.obj);
    if (obj != nullptr) tracking->set_pending_command(obj, token);
}

void vek_tcl_register_cast(vek::i_object* obj)
{
    vek::script_tracking* tracking = vek::script_tracking::current();
    if (tracking == nullptr || obj == nullptr) return;
    stand_in_ref ref;
    obj = tracked(obj, &ref.obj);
    if (obj != nullptr) tracking->bind_pending_cast(obj);
}

int vek_tcl_addref(vek::i_object* obj, bool take)
{
    vek::script_tracking* tracking = vek::script_tracking::current();
    if (tracking == nullptr || obj == nullptr) return 0;
    stand_in_ref ref;
    obj = tracked(obj, &ref.obj);
    return obj != nullptr ? tracking->add_script_ref(obj, take) : 0;
}

int vek_tcl_release(vek::i_object* obj, bool give_back)
{
    vek::script_tracking* tracking = vek::script_tracking::current();
    if (tracking == nullptr || obj == nullptr) return 0;
    stand_in_ref ref;
    obj = tracked(obj, &ref.obj);
    return obj != nullptr ? tracking->drop_script_ref(obj, give_back) : 0;
}

int vek_release_script_object(vek::i_object* obj)
{
    return vek_tcl_release(obj, true);
}

bool vek_tcl_test_object(vek::i_object* obj)
{
    if (obj == nullptr) return true;
    // Nothing is read before it is known to have been handed out (and not
    // seen released since): the pointer may come from any text.
    vek::script_tracking* tracking = vek::script_tracking::current();
    if (tracking == nullptr) {
        vek::i_core* core = vek_core();
        return vek::tcl::shared_knows(obj) || (core != nullptr && obj == static_cast<vek::i_object*>(core));
    }
    if (!tracking->handed_out(obj)) return false;
    stand_in_ref ref;
    obj = tracked(obj, &ref.obj);
    return obj != nullptr && tracking->knows(obj);
}
