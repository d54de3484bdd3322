// What the top view and the bowl views share of their stitching maps (BlendMap): writing a pixel's
// three code bytes, and the key colours that make a placed vehicle picture transparent.
#ifndef MZ_VIEW_BLEND_CODES_H
#define MZ_VIEW_BLEND_CODES_H

#include <cstdint>

namespace mz {

// A vehicle picture placed by SetImage leaves out this many pixels on every side.
inline constexpr int kPlacedBorder = 2;

// Picture bytes are 1..254; a pixel with a 0 or 255 byte is the key, transparent.
inline bool keyByte(uint8_t v) { return v >= 1 && v <= 254; }
inline bool opaque(const uint8_t* p) { return keyByte(p[0]) && keyByte(p[1]) && keyByte(p[2]); }

inline void putCode(uint8_t* p, uint8_t b0, uint8_t b1, uint8_t b2) {
    p[0] = b0;
    p[1] = b1;
    p[2] = b2;
}

}  // namespace mz

#endif
