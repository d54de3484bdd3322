// Why the pattern detector found no frame in one half of a camera picture, in words an operator
// can act on.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "mz/mztypes.h"

namespace mz::core {

enum class LostHalfReason {
    kOutsideSearchArea,  // found once the half's search area reaches the top of the picture
    kTooDark,            // found once the half is brightened
    kTooBlurred,         // found once the half is sharpened
    kNotSeen,            // none of these: hidden, worn through, broken, or under glare
};

// Runs the detector again on altered copies of the picture (`pixels`: packed 3-byte pixels of
// camera's size) looking at the half alone (0 left, 1 right of `regions`, the detection's search
// rectangles), and names the first alteration under which the frame appears. The runs are made on
// a thread of their own, so the detection's own line-search draws stay as they were.
LostHalfReason diagnoseLostHalf(std::span<const uint8_t> pixels, const CameraParam& camera,
                                const std::array<int32_t, 8>& regions, int half);

// "too dark: ..." and so on: the reason and what to do about it.
std::string lostHalfReasonText(LostHalfReason reason);

// "Detection found no left triangle in the FRONT camera picture: too dark: ...".
std::string lostHalfMessage(int camera, int half, LostHalfReason reason);

}  // namespace mz::core
