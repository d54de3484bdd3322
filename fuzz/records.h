// Camera and view records read from fuzz input: every word raw (any float, NaN and infinity
// included), picture sizes kept within what one input can run quickly.
#pragma once

#include "fuzz_input.h"
#include "mz/mztypes.h"

namespace mzfuzz {

// The 34 words of a camera record; width and height within [1, maxWidth] x [1, maxHeight].
inline void readCamera(Input& in, CameraParam& cam, Point2F* image, Point2F* world, int maxWidth, int maxHeight) {
    in.bytes(&cam, offsetof(CameraParam, imagePoints));
    cam.width = 1 + static_cast<int32_t>(static_cast<uint32_t>(cam.width) % static_cast<uint32_t>(maxWidth));
    cam.height = 1 + static_cast<int32_t>(static_cast<uint32_t>(cam.height) % static_cast<uint32_t>(maxHeight));
    cam.imagePoints = image;
    cam.worldPoints = world;
}

}  // namespace mzfuzz
