// The display unit's coordinate table (mzMakeBinView's format) written straight from an engine's
// own map, without first gathering the map in output order.
#ifndef MZ_VIEW_BIN_TABLES_H
#define MZ_VIEW_BIN_TABLES_H

#include <cstddef>
#include <cstdint>

namespace mz {

// Table entry (col, row) of a width x height table is the (x, y) pair at
// base + 2 * (row * rowStep + col * colStep); the bytes equal mzMakeBinView's of that map.
void makeBinViewStrided(int width, int height, const float* base, std::ptrdiff_t colStep, std::ptrdiff_t rowStep,
                        uint8_t* dst, int mode);

// The same for a map held as rows of (x, y) pairs.
void makeBinViewRows(int width, int height, const float* const* rows, uint8_t* dst, int mode);

}  // namespace mz

#endif
