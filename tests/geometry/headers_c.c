/* The public headers must compile as C; their static layout checks run here as well. */
#include "mz/mzcalib.h"
#include "mz/mzgeometry.h"
#include "mz/mzpattern.h"
#include "mz/mztypes.h"
#include "mz/mzview.h"

int mzHeadersCompileAsC(void);
int mzHeadersCompileAsC(void) { return (int)sizeof(CameraParam); }
