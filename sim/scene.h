// A complete simulated scene on disk: Config.bin, the camera pictures and truth.json.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "format/config_model.h"
#include "sim/render.h"
#include "sim/rig.h"

namespace mz::sim {

// The configuration of the simulated installation: the four lenses, the three stitched views
// ("AVM2D_FULL", "AVM2D_FRONT", "AVM2D_REAR") with their predefined masks, and a few single views.
format::ConfigFile buildConfig(const Rig& rig);

// truth.json's text: conventions, vehicle, triangles, and per camera pose, lens and corners.
std::string truthJson(const Rig& rig);

// A 24-bit bitmap file of the picture (through the view library's bitmap writer).
std::vector<uint8_t> encodeBmp(const Picture& picture);

// A JPEG file of the picture at quality 1-100.
std::vector<uint8_t> encodeJpeg(const Picture& picture, int quality);

// Writes DIR/Config.bin, DIR/image/{front,rear,left,right}.bmp, DIR/image/quad.bmp (when the
// rig's options ask for it) and DIR/truth.json; the pictures are .jpg files instead when the
// rig's realism compresses them. A rig that fails checkRig is refused with
// std::runtime_error listing its problems, before anything is written.
void writeScene(const std::filesystem::path& dir, const Rig& rig, int threads = 0);

}  // namespace mz::sim
