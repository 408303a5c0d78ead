// Placeholder: filled in by its owner.
#ifndef VEK_UTIL_CHECKSUM_H
#define VEK_UTIL_CHECKSUM_H

#include "vek/export.h"

#endif
