/* mzview: camera geometry, view engines, image utilities, detection and the display unit's
 * table formats. */
#ifndef MZ_MZVIEW_H
#define MZ_MZVIEW_H

#include "mzgeometry.h"

MZ_EXTERN_C_BEGIN

MZ_EXTERN_C_END

#endif
