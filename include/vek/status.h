// The live status: a snapshot of what the library is doing, as an XML
// tree, so that get_xml prints it and the slash paths query it
// ("threads/thread", "events/type"). vekhost writes it to the trace on
// SIGUSR1 and to a file with --status-file; the Tcl package has
// vek_get_status.
//
// A module adds its own part by registering a service that answers the
// interface "i_status_source".
//
// Thread safety: vek_get_status is safe for concurrent use; each part is
// read under its own subsystem's lock, one after another, so the parts
// are each consistent but not taken at one instant.
#ifndef VEK_STATUS_H
#define VEK_STATUS_H

#include "vek/object.h"
#include "vek/xml.h"

namespace vek {

class VEK_API i_status_source : public virtual i_object {
public:
    // Adds the source's elements under `status` (the snapshot's root).
    // Called in the thread that asked for the snapshot, with no library
    // lock held.
    virtual void add_status(i_xml_node* status) = 0;

protected:
    ~i_status_source() = default;
};

}  // namespace vek

// New reference: caller releases. The snapshot, rooted at <status>; null
// without a core.
VEK_API vek::i_xml_node* vek_get_status();

#endif
