#include "format/config_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace mz::format {

namespace {

int32_t i32At(const uint8_t* p, size_t offset) {
    int32_t v;
    std::memcpy(&v, p + offset, 4);
    return v;
}

uint32_t u32At(const uint8_t* p, size_t offset) {
    uint32_t v;
    std::memcpy(&v, p + offset, 4);
    return v;
}

float f32At(const uint8_t* p, size_t offset) {
    float v;
    std::memcpy(&v, p + offset, 4);
    return v;
}

}  // namespace

bool ConfigCursor::read(void* dst, size_t n) {
    if (n > remaining()) return false;
    if (n) std::memcpy(dst, bytes_.data() + pos_, n);
    pos_ += n;
    return true;
}

bool ConfigCursor::skip(size_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
}

bool ConfigCursor::readChunkHeader(ChunkHeader& chunk) {
    uint8_t raw[kChunkHeaderSize];
    if (!read(raw, sizeof raw)) return false;
    chunk.type = raw[0];
    std::memcpy(&chunk.length, raw + 4, 4);
    return true;
}

bool ConfigCursor::readPayload(int32_t length, uint8_t* buffer, size_t capacity) {
    if (length < 0) return false;
    const size_t n = static_cast<size_t>(length);
    const size_t kept = std::min(n, capacity);
    return read(buffer, kept) && skip(n - kept);
}

int32_t truncToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

void decodeCamera(const uint8_t* p, CameraParam& cam) {
    // f, fx, fy, cx, cy, k1..k5, c0..c8: 19 floats copied bit for bit.
    std::memcpy(&cam.f, p, 19 * 4);
    cam.width = i32At(p, 76);
    cam.height = i32At(p, 80);
    cam.extra1 = truncToInt(f32At(p, 84));
    cam.extra2 = truncToInt(f32At(p, 88));
}

void decodeMultiview(const uint8_t* p, MultiviewParam& mv) {
    mv.flags = u32At(p, 12);
    mv.vehicleWidth = i32At(p, 44);
    mv.vehicleLength = i32At(p, 48);
    mv.width = i32At(p, 16);
    mv.height = i32At(p, 20);
    mv.centreX = f32At(p, 24);
    mv.centreY = f32At(p, 28);
    mv.mmPerPixel = f32At(p, 32);
    std::memcpy(mv.name, p, sizeof mv.name);
    for (int i = 0; i < 4; ++i) mv.lutId[i] = i32At(p, 56 + 4 * i);
}

RigPlacement decodeRigPlacement(const uint8_t* p) {
    return {f32At(p, 36), f32At(p, 40), truncToInt(f32At(p, 52))};
}

void decodeSingleview(const uint8_t* p, SingleviewParam& sv) {
    sv.flags = u32At(p, 24);
    sv.wideAngle = f32At(p, 28);
    sv.tiltX = f32At(p, 32);
    sv.tiltY = f32At(p, 36);
    sv.rotation = f32At(p, 40);
    sv.offsetX = f32At(p, 44);
    sv.offsetY = f32At(p, 48);
    sv.scaleX = f32At(p, 52);
    sv.scaleY = f32At(p, 56);
    sv.overlayScale = static_cast<float>(i32At(p, 64));
    sv.width = i32At(p, 68);
    sv.height = i32At(p, 72);
    sv.centreX = static_cast<float>(i32At(p, 76));
    sv.centreY = static_cast<float>(i32At(p, 80));
    sv.lutId = i32At(p, 84);
}

bool readFileBytes(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

}  // namespace mz::format
