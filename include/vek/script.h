// Placeholder: filled in by its owner.
#ifndef VEK_SCRIPT_H
#define VEK_SCRIPT_H

#include "vek/export.h"

#endif
