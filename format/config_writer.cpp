#include "format/config_writer.h"

#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>

#include "format/atomic_file.h"

namespace mz::format {

namespace {

class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}

    void u8(uint8_t v) { out_.push_back(v); }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void f32(float v) { u32(std::bit_cast<uint32_t>(v)); }
    void bytes(const uint8_t* p, size_t n) { out_.insert(out_.end(), p, p + n); }
    // Text padded with NULs to the field width; `terminated` keeps room for the final NUL.
    void text(const std::string& s, size_t field, bool terminated, const char* what) {
        const size_t room = terminated ? field - 1 : field;
        if (s.size() > room || s.find('\0') != std::string::npos) {
            throw std::invalid_argument(std::string(what) + " \"" + s + "\" does not fit its " + std::to_string(field) +
                                        "-byte field");
        }
        bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
        out_.insert(out_.end(), field - s.size(), 0);
    }
    void chunk(uint8_t type, size_t length) {
        if (length > INT32_MAX) throw std::invalid_argument("record payload too long");
        u8(type);
        u8(0);
        u8(0);
        u8(0);
        i32(static_cast<int32_t>(length));
    }

private:
    std::vector<uint8_t>& out_;
};

uint8_t sectionCount(size_t n, const char* section) {
    if (n > 255) throw std::invalid_argument(std::string("too many ") + section + " records");
    return static_cast<uint8_t>(n);
}

void requireType(uint8_t type, int first, int last, const char* section) {
    if (type < first || type > last) {
        throw std::invalid_argument("record type " + std::to_string(type) + " is not a " + section + " record");
    }
}

}  // namespace

std::vector<uint8_t> encodeConfig(const ConfigFile& config) {
    std::vector<uint8_t> out;
    ByteWriter w(out);

    w.bytes(config.headerTag.data(), config.headerTag.size());
    w.text(config.model, kModelNameField, true, "model name");
    w.u8(sectionCount(config.cameras.size(), "camera"));
    w.u8(sectionCount(config.multiviews.size(), "multiview"));
    w.u8(sectionCount(config.carImages.size(), "car image"));
    w.u8(config.parkingGuideLevel);

    for (const ConfigCamera& cam : config.cameras) {
        requireType(cam.type, kRecordFrontCamera, kRecordRightCamera, "camera");
        w.chunk(cam.type, kCameraPayloadSize);
        for (float v : {cam.f, cam.fx, cam.fy, cam.cx, cam.cy}) w.f32(v);
        for (float v : cam.k) w.f32(v);
        for (float v : cam.c) w.f32(v);
        w.i32(cam.width);
        w.i32(cam.height);
        w.f32(cam.extra1);
        w.f32(cam.extra2);
    }

    for (const ConfigMultiview& mv : config.multiviews) {
        requireType(mv.type, kRecordMultiview0, kRecordMultiview0 + 2, "multiview");
        w.chunk(mv.type, kMultiviewPayloadSize);
        w.text(mv.name, kViewNameWritten, false, "view name");
        w.u32(mv.flags);
        w.i32(mv.width);
        w.i32(mv.height);
        for (float v : {mv.centreX, mv.centreY, mv.mmPerPixel, mv.originX, mv.originY}) w.f32(v);
        w.i32(mv.vehicleWidth);
        w.i32(mv.vehicleLength);
        w.f32(mv.markerLength);
        for (int32_t id : mv.lutIds) w.i32(id);
    }

    for (const ConfigCarImage& car : config.carImages) {
        requireType(car.type, kRecordCarImage0, kRecordCarImage0 + 2, "car image");
        w.chunk(car.type, car.pixels.size());
        w.bytes(car.pixels.data(), car.pixels.size());
    }

    if (config.singleviews.size() > INT32_MAX) throw std::invalid_argument("too many single views");
    w.i32(config.singleviewHeaderWords[0]);
    w.i32(static_cast<int32_t>(config.singleviews.size()));
    w.i32(config.singleviewHeaderWords[1]);
    w.i32(config.singleviewHeaderWords[2]);

    for (const ConfigSingleview& sv : config.singleviews) {
        requireType(sv.type, kRecordSingleviewFirst, kRecordSingleviewLast, "single-view");
        w.chunk(sv.type, kSingleviewPayloadSize);
        w.i32(sv.viewIndex);
        w.text(sv.fileName, kLutFileNameField, true, "look-up-table file name");
        w.u32(sv.flags);
        for (float v : {sv.wideAngle, sv.tiltX, sv.tiltY, sv.rotation, sv.offsetX, sv.offsetY, sv.scaleX, sv.scaleY}) {
            w.f32(v);
        }
        w.bytes(sv.unused.data(), sv.unused.size());
        for (int32_t v : {sv.overlayScale, sv.width, sv.height, sv.centreX, sv.centreY, sv.lutId}) {
            w.i32(v);
        }
    }
    return out;
}

void writeConfigFile(const std::filesystem::path& path, const ConfigFile& config) {
    writeFileAtomically(path, encodeConfig(config));
}

}  // namespace mz::format
