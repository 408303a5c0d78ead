// Placeholder: filled in by its owner.
#ifndef VEK_UTIL_TEXT_H
#define VEK_UTIL_TEXT_H

#include "vek/export.h"

#endif
