// Rendering of the camera pictures of a simulated bay.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mz/mztypes.h"
#include "sim/rig.h"

namespace mz::sim {

// A 24-bit picture: rows of B, G, R bytes padded to a multiple of 4, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> bytes;

    Picture() = default;
    Picture(int w, int h) : width(w), height(h), stride(MZ_ROW_STRIDE24(w)), bytes(size_t(stride) * h) {}
    uint8_t* row(int y) { return bytes.data() + size_t(stride) * y; }
    const uint8_t* row(int y) const { return bytes.data() + size_t(stride) * y; }
};

// The picture's pixels without row padding, as the detectors take them.
std::vector<uint8_t> packedPixels(const Picture& picture);

// The effects of a level: clean (today's pictures), mild, real or harsh. Throws
// std::invalid_argument for another name.
Realism realismPreset(const std::string& level);

// Traces every pixel's rays (4x4 per pixel) to the floor, then blurs, darkens toward the edge of
// the image circle and adds noise as the rig's options ask, with the realism effects on top
// (the JPEG compression aside, which is the file's). Deterministic for a given rig, whatever the
// thread count (0: all cores).
Picture renderCamera(const Rig& rig, int camera, int threads = 0);

// The four pictures in one: front top left, rear top right, left bottom left, right bottom right.
Picture makeQuad(const Picture& front, const Picture& rear, const Picture& left, const Picture& right);

}  // namespace mz::sim
