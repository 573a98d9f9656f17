/* The public header must compile as plain C, with the same record sizes as in C++. */
#include "emberkit.h"

_Static_assert(sizeof(EKCamera) == 104, "EKCamera layout");
_Static_assert(sizeof(EKRenderSettings) == 76, "EKRenderSettings layout");
_Static_assert(sizeof(EKLight) == 64, "EKLight layout");
_Static_assert(sizeof(void *) != 8 || sizeof(EKExrChannel) == 32, "EKExrChannel layout");

int ekHeaderCompilesAsC(void) { return EK_DEVICE_CPU == -1 && EK_API_VERSION == 7; }
