// Placeholder: filled in by its owner.
#ifndef VEK_UTIL_ENCODING_H
#define VEK_UTIL_ENCODING_H

#include "vek/export.h"

#endif
