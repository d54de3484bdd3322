// The AVX2 form of the map rows (8 pixels at a time). Everything this file compiles is for AVX2:
// it includes nothing but the lane code, which has internal linkage, so no AVX2 copy of a shared
// function can stand in for the plain one.
#if defined(__x86_64__) && defined(__GNUC__)
#pragma GCC target("avx2")
#include "geometry/map_rows_body.h"

namespace mz {

void groundMapRowsAvx2(const GroundMapJob& job, int first, int last) { lanes::groundRows<lanes::F8>(job, first, last); }

void lensViewRowsAvx2(const LensViewJob& job, int first, int last) { lanes::lensRows<lanes::F8>(job, first, last); }

}  // namespace mz
#endif
