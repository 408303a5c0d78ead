// The object model and value types of vek_core: reference-counted objects
// reached through named interfaces, strings, collections, property managers,
// mutexes and worker threads. See the headers under vek/object/ for each
// class's contract and thread safety.
#ifndef VEK_OBJECT_H
#define VEK_OBJECT_H

#include "vek/object/array.h"
#include "vek/object/base.h"
#include "vek/object/binary.h"
#include "vek/object/cast.h"
#include "vek/object/collection.h"
#include "vek/object/property.h"
#include "vek/object/string.h"
#include "vek/object/sync.h"

#endif
