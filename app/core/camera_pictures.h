// The four camera pictures of "Image Load", read from a data folder or cut from one four-quadrant
// picture. Nothing reaches a view unless all four are usable.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/command_result.h"
#include "app/core/ui.h"
#include "format/bitmap.h"

namespace mz::core {

inline constexpr const char* kDefaultImageNames[kCameraCount] = {"image/front.bmp", "image/rear.bmp", "image/left.bmp",
                                                                 "image/right.bmp"};

// Why a picture file gave no picture (or a configuration no records), as far as can be told
// without reading it again.
std::string unreadablePicture(const std::filesystem::path& path);

// Sees the bytes of each picture file as it is read (for its checksum), before they are let go.
using SeeFile = std::function<void(const std::filesystem::path& file, std::span<const uint8_t> bytes)>;

// The pictures of folder/image/ as 24-bit pictures of the front camera's size. On failure the
// operator has seen the message and detail says which file and why. `see`, when given, sees
// each file read.
CommandStatus readCameraPictures(const std::filesystem::path& folder, const CameraParam& front, Ui& ui,
                                 std::array<format::Bitmap, kCameraCount>& pictures, std::string& detail,
                                 const SeeFile& see = {});

// The four pictures of one picture of twice the camera size (width x height each).
CommandStatus readQuadPicture(const std::string& path, int width, int height, Ui& ui,
                              std::array<format::Bitmap, kCameraCount>& pictures, std::string& detail,
                              const SeeFile& see = {});

}  // namespace mz::core
