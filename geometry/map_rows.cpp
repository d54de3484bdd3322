// The plain (SSE, 4 pixels at a time) form of the map rows and the choice between it and AVX2.
#include "geometry/map_rows.h"

#include "geometry/map_rows_body.h"

namespace mz {

bool avx2() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
#else
    return false;
#endif
}

void groundMapRowsSse(const GroundMapJob& job, int first, int last) { lanes::groundRows<lanes::F4>(job, first, last); }

void lensViewRowsSse(const LensViewJob& job, int first, int last) { lanes::lensRows<lanes::F4>(job, first, last); }

#if !(defined(__x86_64__) && defined(__GNUC__))
void groundMapRowsAvx2(const GroundMapJob& job, int first, int last) { groundMapRowsSse(job, first, last); }
void lensViewRowsAvx2(const LensViewJob& job, int first, int last) { lensViewRowsSse(job, first, last); }
#endif

void groundMapRows(const GroundMapJob& job, int first, int last) {
    if (avx2()) groundMapRowsAvx2(job, first, last);
    else groundMapRowsSse(job, first, last);
}

void lensViewRows(const LensViewJob& job, int first, int last) {
    if (avx2()) lensViewRowsAvx2(job, first, last);
    else lensViewRowsSse(job, first, last);
}

}  // namespace mz
