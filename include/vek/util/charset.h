// Placeholder: filled in by its owner.
#ifndef VEK_UTIL_CHARSET_H
#define VEK_UTIL_CHARSET_H

#include "vek/export.h"

#endif
