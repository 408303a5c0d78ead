// vek_core: the core library of the vek application framework.
// Including this header brings in the whole public API.
#ifndef VEK_CORE_UMBRELLA_H
#define VEK_CORE_UMBRELLA_H

#include "vek/core.h"
#include "vek/events.h"
#include "vek/export.h"
#include "vek/object.h"
#include "vek/script.h"
#include "vek/status.h"
#include "vek/streams.h"
#include "vek/util.h"
#include "vek/xml.h"

#endif
