#include "format/config_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>

#include "format/file_read.h"

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

RigPlacement decodeRigPlacement(const uint8_t* p) { return {f32At(p, 36), f32At(p, 40), truncToInt(f32At(p, 52))}; }

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

namespace {

[[noreturn]] void broken(size_t offset, const std::string& what) {
    throw std::invalid_argument("byte " + std::to_string(offset) + ": " + what);
}

class StrictReader {
public:
    explicit StrictReader(std::span<const uint8_t> bytes) : b_(bytes) {}
    size_t offset() const { return pos_; }
    bool atEnd() const { return pos_ == b_.size(); }
    const uint8_t* take(size_t n, const char* what) {
        if (n > b_.size() - pos_) broken(pos_, std::string("the file ends inside ") + what);
        const uint8_t* p = b_.data() + pos_;
        pos_ += n;
        return p;
    }
    // A record's payload, which must have the record's own length.
    const uint8_t* record(int first, int last, int32_t expected, const char* section, uint8_t& type, int32_t& length) {
        const size_t at = pos_;
        const uint8_t* h = take(kChunkHeaderSize, "a record header");
        type = h[0];
        std::memcpy(&length, h + 4, 4);
        if (type < first || type > last) {
            broken(at, "record type " + std::to_string(type) + " is not a " + section + " record");
        }
        if (expected >= 0 && length != expected) {
            broken(at, std::string(section) + " record of " + std::to_string(length) + " bytes, not " +
                           std::to_string(expected));
        }
        if (length < 0) broken(at, "negative record length");
        return take(static_cast<size_t>(length), "a record");
    }

private:
    std::span<const uint8_t> b_;
    size_t pos_ = 0;
};

std::string textField(const uint8_t* p, size_t n) {
    size_t len = 0;
    while (len < n && p[len] != 0) ++len;
    return std::string(reinterpret_cast<const char*>(p), len);
}

}  // namespace

ConfigFile decodeConfig(std::span<const uint8_t> bytes) {
    StrictReader in(bytes);
    ConfigFile cfg;
    const uint8_t* h = in.take(kConfigHeaderSize, "the header");
    std::memcpy(cfg.headerTag.data(), h, 4);
    cfg.model = textField(h + 4, kModelNameField - 1);
    if (h[4 + kModelNameField - 1] != 0) broken(4, "the model name is not terminated within its field");
    cfg.parkingGuideLevel = h[23];
    const int cameras = h[20], multiviews = h[21], carImages = h[22];
    if (cameras != 4 || multiviews == 0 || multiviews > 3 || carImages != multiviews) {
        broken(20, "record counts " + std::to_string(cameras) + ", " + std::to_string(multiviews) + ", " +
                       std::to_string(carImages) + " (4 cameras, 1 to 3 views, one car image a view)");
    }
    uint8_t type = 0;
    int32_t length = 0;
    for (int i = 0; i < cameras; ++i) {
        const uint8_t* p =
            in.record(kRecordFrontCamera, kRecordRightCamera, kCameraPayloadSize, "camera", type, length);
        ConfigCamera cam;
        cam.type = type;
        std::memcpy(&cam.f, p, 4);
        std::memcpy(&cam.fx, p + 4, 4);
        std::memcpy(&cam.fy, p + 8, 4);
        std::memcpy(&cam.cx, p + 12, 4);
        std::memcpy(&cam.cy, p + 16, 4);
        std::memcpy(cam.k.data(), p + 20, 20);
        std::memcpy(cam.c.data(), p + 40, 36);
        cam.width = i32At(p, 76);
        cam.height = i32At(p, 80);
        cam.extra1 = f32At(p, 84);
        cam.extra2 = f32At(p, 88);
        cfg.cameras.push_back(cam);
    }
    for (int i = 0; i < multiviews; ++i) {
        const uint8_t* p =
            in.record(kRecordMultiview0, kRecordMultiview0 + 2, kMultiviewPayloadSize, "multiview", type, length);
        ConfigMultiview mv;
        mv.type = type;
        mv.name = textField(p, kViewNameWritten);
        mv.flags = u32At(p, 12);
        mv.width = i32At(p, 16);
        mv.height = i32At(p, 20);
        mv.centreX = f32At(p, 24);
        mv.centreY = f32At(p, 28);
        mv.mmPerPixel = f32At(p, 32);
        mv.originX = f32At(p, 36);
        mv.originY = f32At(p, 40);
        mv.vehicleWidth = i32At(p, 44);
        mv.vehicleLength = i32At(p, 48);
        mv.markerLength = f32At(p, 52);
        for (int k = 0; k < 4; ++k) mv.lutIds[k] = i32At(p, 56 + 4 * k);
        cfg.multiviews.push_back(mv);
    }
    for (int i = 0; i < carImages; ++i) {
        const size_t at = in.offset();
        const uint8_t* p = in.record(kRecordCarImage0, kRecordCarImage0 + 2, -1, "car image", type, length);
        const ConfigMultiview* view = nullptr;
        for (const ConfigMultiview& mv : cfg.multiviews) {
            if (mv.type - kRecordMultiview0 == type - kRecordCarImage0) view = &mv;
        }
        if (!view || view->width <= 0 || view->height <= 0 || paddedImageSize(view->width, view->height) != length) {
            broken(at, "car image of " + std::to_string(length) + " bytes does not match its view");
        }
        ConfigCarImage car;
        car.type = type;
        car.pixels.assign(p, p + length);
        cfg.carImages.push_back(std::move(car));
    }
    const size_t sectionAt = in.offset();
    const uint8_t* s = in.take(kSingleviewSectionHeaderSize, "the single-view section header");
    const int32_t count = i32At(s, 4);
    if (count < 0 || count > 10) broken(sectionAt, std::to_string(count) + " single views (0 to 10)");
    cfg.singleviewHeaderWords = {i32At(s, 0), i32At(s, 8), i32At(s, 12)};
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = in.record(kRecordSingleviewFirst, kRecordSingleviewLast, kSingleviewPayloadSize,
                                     "single-view", type, length);
        ConfigSingleview sv;
        sv.type = type;
        sv.viewIndex = i32At(p, 0);
        sv.fileName = textField(p + 4, kLutFileNameField - 1);
        sv.flags = u32At(p, 24);
        float* floats[] = {&sv.wideAngle, &sv.tiltX,   &sv.tiltY,  &sv.rotation,
                           &sv.offsetX,   &sv.offsetY, &sv.scaleX, &sv.scaleY};
        for (int k = 0; k < 8; ++k) *floats[k] = f32At(p, 28 + 4 * k);
        std::memcpy(sv.unused.data(), p + 60, 4);
        sv.overlayScale = i32At(p, 64);
        sv.width = i32At(p, 68);
        sv.height = i32At(p, 72);
        sv.centreX = i32At(p, 76);
        sv.centreY = i32At(p, 80);
        sv.lutId = i32At(p, 84);
        cfg.singleviews.push_back(std::move(sv));
    }
    if (!in.atEnd()) broken(in.offset(), "bytes after the last record");
    return cfg;
}

bool readFileBytes(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
    return readWholeFile(path, kMaxConfigFileBytes, bytes).empty();
}

}  // namespace mz::format
