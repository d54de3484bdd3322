#include "app/core/config_reader.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include "mz/mzview.h"

namespace mz::core {

namespace {

constexpr uint32_t kDefaultVehicleColour = 0x00010101;  // bytes 1, 1, 1, 0
constexpr float kDefaultFov = 150.0f;
constexpr float kDefaultBlendWidth = 10.0f;
constexpr int32_t kDefaultLineWidth = 4;
constexpr int32_t kDefaultBlendMode = 4;  // "Predefined"

// Bytes of the file taken in order. Every read says whether the file still held what it asked
// for, so a file that ends early is noticed wherever it ends.
class ByteCursor {
public:
    explicit ByteCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t remaining() const { return bytes_.size() - pos_; }

    bool read(void* dst, size_t n) {
        if (n > remaining()) return false;
        if (n) std::memcpy(dst, bytes_.data() + pos_, n);
        pos_ += n;
        return true;
    }

    bool skip(size_t n) {
        if (n > remaining()) return false;
        pos_ += n;
        return true;
    }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

struct ChunkHeader {
    uint8_t type = 0;
    int32_t length = 0;
};

bool readChunkHeader(ByteCursor& in, ChunkHeader& chunk) {
    uint8_t raw[kChunkHeaderSize];
    if (!in.read(raw, sizeof raw)) return false;
    chunk.type = raw[0];
    std::memcpy(&chunk.length, raw + 4, 4);
    return true;
}

// A payload goes into a buffer of fixed size: what fits is read, any excess is skipped, so a
// record that grew in a later version of the file cannot write past the buffer. A negative
// length or a payload the file does not hold is a broken file.
bool readPayload(ByteCursor& in, int32_t length, uint8_t* buffer, size_t capacity) {
    if (length < 0) return false;
    const size_t n = static_cast<size_t>(length);
    const size_t kept = std::min(n, capacity);
    return in.read(buffer, kept) && in.skip(n - kept);
}

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

// Truncation toward zero; values an int32 cannot hold saturate instead of being undefined.
int32_t truncToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

void fillCamera(CameraParam& cam, const uint8_t* p) {
    // f, fx, fy, cx, cy, k1..k5, c0..c8: 19 floats copied bit for bit.
    std::memcpy(&cam.f, p, 19 * 4);
    cam.width = i32At(p, 76);
    cam.height = i32At(p, 80);
    cam.extra1 = truncToInt(f32At(p, 84));
    cam.extra2 = truncToInt(f32At(p, 88));
}

void fillMultiview(CalibrationState& s, int slot, const uint8_t* p) {
    MultiviewParam& mv = s.multiviews[slot];
    mv.flags = u32At(p, 12);
    mv.vehicleWidth = i32At(p, 44);
    mv.vehicleLength = i32At(p, 48);
    mv.frontFov = kDefaultFov;
    mv.rearFov = kDefaultFov;
    mv.blendWidth = kDefaultBlendWidth;
    mv.vehicleColour = kDefaultVehicleColour;
    mv.lineWidth = kDefaultLineWidth;
    mv.blendMode = kDefaultBlendMode;
    mv.bowlWallX = mv.bowlWallY = mv.bowlHeight = mv.bowlFloorY = 0;
    std::fill(std::begin(mv.reserved3), std::end(mv.reserved3), 0);
    mv.width = i32At(p, 16);
    mv.height = i32At(p, 20);
    mv.centreX = f32At(p, 24);
    mv.centreY = f32At(p, 28);
    mv.mmPerPixel = f32At(p, 32);
    // Ten named bytes, and the two after them that carry the end of a longer name such as
    // "AVM2D_FRONT".
    std::memcpy(mv.name, p, sizeof mv.name);
    for (int i = 0; i < 4; ++i) mv.lutId[i] = i32At(p, 56 + 4 * i);
    mv.maskId = static_cast<int32_t>(static_cast<uint32_t>(mv.lutId[3]) + 1u);
    mv.cameras = s.cameras.data();

    const float originX = f32At(p, 36);
    const float originY = f32At(p, 40);
    const int32_t markerLength = truncToInt(f32At(p, 52));
    for (CameraParam& cam : s.cameras) {
        cam.originX = originX;
        cam.originY = originY;
        cam.patternShape = 0;
        cam.markerLength = markerLength;
    }
}

void fillSingleview(CalibrationState& s, int slot) {
    const uint8_t* p = s.singleviewRaw[slot].data();
    SingleviewParam& sv = s.singleviews[slot];
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

// The camera and vehicle size of a single view, also for a record without payload: an engine
// must never be initialised with a view that has no camera.
void attachSingleview(CalibrationState& s, int slot, int type) {
    SingleviewParam& sv = s.singleviews[slot];
    sv.camera = &s.cameras[cameraOfSingleviewType(type)];
    sv.vehicleWidth = s.multiviews[0].vehicleWidth;
    sv.vehicleLength = s.multiviews[0].vehicleLength;
}

bool readWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

}  // namespace

int32_t modelCodeOf(const std::string& modelName) {
    const size_t blank = modelName.find(' ');
    if (blank == std::string::npos) return 0;
    const std::string rest = modelName.substr(blank + 1);
    const double value = std::strtod(rest.c_str(), nullptr);
    return truncToInt(value * 100.0);
}

bool loadConfiguration(const std::filesystem::path& path, CalibrationState& state, Ui& ui,
                       const std::function<void()>& beforeRelease) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, bytes)) return false;
    return loadConfiguration(std::span<const uint8_t>(bytes), state, ui, beforeRelease);
}

bool loadConfiguration(std::span<const uint8_t> bytes, CalibrationState& s, Ui& ui,
                       const std::function<void()>& beforeRelease) {
    ByteCursor in(bytes);

    std::array<uint8_t, kConfigHeaderSize> header;
    if (!in.read(header.data(), header.size())) return false;
    if (header[20] != kCameraCount || header[21] == 0 || header[22] != header[21]) {
        ui.showMessage("Config file header error!", kAppTitle, MessageIcon::kError);
        return false;
    }
    s.header = header;
    const char* name = reinterpret_cast<const char*>(header.data() + 4);
    s.modelName.assign(name, strnlen(name, kModelNameField));
    ui.setTitle("Model : " + s.modelName);

    bool ok = true;

    // Cameras. The buffer is cleared once: a short payload keeps the words of the record before.
    uint8_t cameraBuffer[kCameraPayloadSize] = {};
    for (int i = 0; i < header[20]; ++i) {
        ChunkHeader chunk;
        if (!readChunkHeader(in, chunk)) return false;
        if (chunk.type < kRecordFrontCamera || chunk.type > kRecordRightCamera) {
            // The payload is not skipped: the next record header is looked for right here.
            ok = false;
            continue;
        }
        if (!readPayload(in, chunk.length, cameraBuffer, sizeof cameraBuffer)) return false;
        CameraParam& cam = s.cameras[chunk.type - kRecordFrontCamera];
        fillCamera(cam, cameraBuffer);
        if (cam.width < 1 || cam.width > kMaxCameraSide || cam.height < 1 || cam.height > kMaxCameraSide)
            ok = false;
    }

    // Stitched views.
    if (beforeRelease) beforeRelease();
    s.releaseMultiviews();
    uint8_t multiviewBuffer[kMultiviewPayloadSize] = {};
    for (int i = 0; i < header[21]; ++i) {
        ChunkHeader chunk;
        if (!readChunkHeader(in, chunk)) return false;
        int slot = -1;
        if (chunk.type >= kRecordMultiview0 && chunk.type < kRecordMultiview0 + kMultiviewSlots) {
            slot = chunk.type - kRecordMultiview0;
            // A second record of the same slot replaces the engine; the first must not leak.
            if (s.multiviewHandles[slot]) mzMultiviewRelease(&s.multiviewHandles[slot]);
            s.multiviewHandles[slot] = mzMultiviewCreate(0);
        } else {
            ok = false;
        }
        if (chunk.length < 0) return false;
        if (chunk.length >= 1) {
            if (!readPayload(in, chunk.length, multiviewBuffer, sizeof multiviewBuffer)) return false;
            if (slot >= 0) fillMultiview(s, slot, multiviewBuffer);
        }
    }

    // Car images: each must be exactly the padded 24-bit picture of its view.
    for (int slot = 0; slot < kMultiviewSlots; ++slot) {
        s.carImages[slot].clear();
        s.carImages[slot].shrink_to_fit();
        s.hasCarImage[slot] = false;
    }
    for (int i = 0; i < header[22]; ++i) {
        ChunkHeader chunk;
        if (!readChunkHeader(in, chunk)) return false;
        if (chunk.type < kRecordCarImage0 || chunk.type >= kRecordCarImage0 + kMultiviewSlots) {
            continue;  // skipped without failing; its payload is not skipped either
        }
        const int slot = chunk.type - kRecordCarImage0;
        const MultiviewParam& mv = s.multiviews[slot];
        if (chunk.length < 0) return false;
        if (mv.width < 0 || mv.height < 0 || chunk.length != paddedImageSize(mv.width, mv.height)) {
            ok = false;
            continue;
        }
        if (static_cast<size_t>(chunk.length) > in.remaining()) return false;
        s.carImages[slot].assign(static_cast<size_t>(chunk.length), 0);
        if (!in.read(s.carImages[slot].data(), s.carImages[slot].size())) return false;
        s.hasCarImage[slot] = true;
    }

    // Single views.
    std::array<int32_t, 4> svHeader;
    if (!in.read(svHeader.data(), sizeof svHeader)) return false;
    s.singleviewHeader = svHeader;
    s.releaseSingleviews();
    for (auto& raw : s.singleviewRaw) raw.fill(0);
    for (int i = 0; i < svHeader[1]; ++i) {
        ChunkHeader chunk;
        if (!readChunkHeader(in, chunk)) return false;
        if (i >= kSingleviewSlots) {
            ok = false;
            break;
        }
        s.singleviewHandles[i] = mzSingleviewCreate(0);
        s.singleviews[i] = SingleviewParam{};
        if (chunk.type < kRecordSingleviewFirst || chunk.type > kRecordSingleviewLast) {
            ok = false;
            break;
        }
        if (!readPayload(in, chunk.length, s.singleviewRaw[i].data(), kSingleviewPayloadSize)) {
            return false;
        }
        if (chunk.length >= 1) fillSingleview(s, i);
        attachSingleview(s, i, chunk.type);
    }
    return ok;
}

}  // namespace mz::core
