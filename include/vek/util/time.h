// Placeholder: filled in by its owner.
#ifndef VEK_UTIL_TIME_H
#define VEK_UTIL_TIME_H

#include "vek/export.h"

#endif
