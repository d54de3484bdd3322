// Pre-processing of a camera picture: grey conversion, local-mean threshold, border cleaning.
#pragma once

#include <cstdint>

#include "pattern/grey_image.h"

namespace mz::pattern {

// Grey value of every pixel of a width x height picture of 3-byte pixels without row padding.
// The weights follow byte position, not colour: with blue, green, red memory order blue gets
// 0.299 and red 0.114. Callers' tables were tuned on this, so it stays.
GreyImage toGrey(const uint8_t* picture, int width, int height);

// Mean of each pixel's 3 x 3 neighbourhood (as much of it as lies inside), rounded: noise and
// compression blocks lowered far enough that a faint band stays one piece under the threshold.
GreyImage boxSmoothed(const GreyImage& grey);

// The picture plus twice its difference from the 5 x 5 mean, clamped: a band the lens softened
// into the floor stands out again, each edge where it was.
GreyImage unsharpened(const GreyImage& grey);

// 255 where a pixel is at least 10 grey levels below the mean of its neighbourhood (half-size
// width / 20), 0 elsewhere. A crop narrower than 20 pixels has no neighbourhood and no dark pixel.
GreyImage thresholdLocalMean(const GreyImage& crop);

// Removes (sets to 0) the dark blobs that touch the image edge. The mark spreads in at most
// kBorderRounds forward/backward sweeps, so a blob that winds further is only partly removed.
void cleanBorder(GreyImage& binary);

inline constexpr int kBorderRounds = 20;

}  // namespace mz::pattern
