/* mzpattern: calibration-pattern detection, with its own copy of the camera geometry. */
#ifndef MZ_MZPATTERN_H
#define MZ_MZPATTERN_H

#include "mzgeometry.h"

MZ_EXTERN_C_BEGIN

MZ_EXTERN_C_END

#endif
