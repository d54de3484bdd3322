// Reading side of the vehicle configuration file Config.bin: records taken from the bytes in
// order, and the fields of each record's payload. What a damaged file means for the program
// (which faults fail the load, what stays loaded) is the caller's decision.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "format/config_model.h"
#include "mz/mztypes.h"

namespace mz::format {

struct ChunkHeader {
    uint8_t type = 0;
    int32_t length = 0;
};

// Bytes of the file taken in order. Every read says whether the file still held what it asked
// for, so a file that ends early is noticed wherever it ends.
class ConfigCursor {
public:
    explicit ConfigCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t remaining() const { return bytes_.size() - pos_; }
    bool read(void* dst, size_t n);
    bool skip(size_t n);
    bool readChunkHeader(ChunkHeader& chunk);
    // A payload goes into a buffer of fixed size: what fits is read, any excess is skipped, so a
    // record that grew in a later version of the file cannot write past the buffer. A negative
    // length or a payload the file does not hold is a broken file.
    bool readPayload(int32_t length, uint8_t* buffer, size_t capacity);

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

// Truncation toward zero; values an int32 cannot hold saturate instead of being undefined.
int32_t truncToInt(double v);

// The lens, picture size and extras of a camera payload (kCameraPayloadSize bytes). The pose
// and point fields of the record are left as they are.
void decodeCamera(const uint8_t* payload, CameraParam& camera);

// The fields a stitched-view payload (kMultiviewPayloadSize bytes) holds for the view itself.
// The view's name takes twelve bytes: the named field and the two after it, which carry the end
// of a longer name such as "AVM2D_FRONT".
void decodeMultiview(const uint8_t* payload, MultiviewParam& view);

// What a stitched-view payload says about every camera of the rig.
struct RigPlacement {
    float originX = 0;
    float originY = 0;
    int32_t markerLength = 0;
};
RigPlacement decodeRigPlacement(const uint8_t* payload);

// The fields of a single-view payload (kSingleviewPayloadSize bytes); camera and vehicle size
// are not part of it.
void decodeSingleview(const uint8_t* payload, SingleviewParam& view);

// The whole file as the model holds it, for the tools that show or rewrite a configuration. Unlike
// the workflow's loader this is strict, so that what it returns encodes to the same bytes: a count
// the header cannot mean, a record type outside its section, a payload of another length than its
// record's (a car image: than its view's picture), a file that ends early or goes on past the last
// record each throw std::invalid_argument naming the byte offset.
ConfigFile decodeConfig(std::span<const uint8_t> bytes);

// The whole file; false when it cannot be read.
bool readFileBytes(const std::filesystem::path& path, std::vector<uint8_t>& bytes);

}  // namespace mz::format
