// The single-camera view engine's OSD mask coding, open to the tests.
#ifndef MZ_VIEW_SINGLEVIEW_H
#define MZ_VIEW_SINGLEVIEW_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mz {

// The display unit's 256-colour OSD palette, entry k as R, G, B.
struct OsdColour {
    uint8_t r, g, b;
};
const OsdColour* osdPalette();

// Nearest palette entry by squared distance; the lowest index wins a tie.
uint8_t osdPaletteIndex(uint8_t blue, uint8_t green, uint8_t red);

// Run-length code of palette indices: units of (index, extra repeats 0..255), appended to out.
void osdRunLength(const uint8_t* indices, std::size_t count, std::vector<uint8_t>& out);

}  // namespace mz

#endif
