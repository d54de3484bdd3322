/* mzcalib: multi-camera extrinsic calibration from the pattern points of four cameras. */
#ifndef MZ_MZCALIB_H
#define MZ_MZCALIB_H

#include "mztypes.h"

MZ_EXTERN_C_BEGIN

MZ_EXTERN_C_END

#endif
