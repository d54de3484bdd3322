#include "app/core/config_loader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "format/config_reader.h"
#include "mz/mzview.h"

namespace mz::core {

namespace {

constexpr uint32_t kDefaultVehicleColour = 0x00010101;  // bytes 1, 1, 1, 0
constexpr float kDefaultFov = 150.0f;
constexpr float kDefaultBlendWidth = 10.0f;
constexpr int32_t kDefaultLineWidth = 4;
constexpr int32_t kDefaultBlendMode = 4;  // "Predefined"

void fillMultiview(CalibrationState& s, int slot, const uint8_t* p) {
    MultiviewParam& mv = s.multiviews[slot];
    format::decodeMultiview(p, mv);
    mv.frontFov = kDefaultFov;
    mv.rearFov = kDefaultFov;
    mv.blendWidth = kDefaultBlendWidth;
    mv.vehicleColour = kDefaultVehicleColour;
    mv.lineWidth = kDefaultLineWidth;
    mv.blendMode = kDefaultBlendMode;
    mv.bowlWallX = mv.bowlWallY = mv.bowlHeight = mv.bowlFloorY = 0;
    std::fill(std::begin(mv.reserved3), std::end(mv.reserved3), 0);
    mv.maskId = static_cast<int32_t>(static_cast<uint32_t>(mv.lutId[3]) + 1u);
    mv.cameras = s.cameras.data();

    const format::RigPlacement placement = format::decodeRigPlacement(p);
    for (CameraParam& cam : s.cameras) {
        cam.originX = placement.originX;
        cam.originY = placement.originY;
        cam.patternShape = 0;
        cam.markerLength = placement.markerLength;
    }
}

// The camera and vehicle size of a single view, also for a record without payload: an engine
// must never be initialised with a view that has no camera.
void attachSingleview(CalibrationState& s, int slot, int type) {
    SingleviewParam& sv = s.singleviews[slot];
    sv.camera = &s.cameras[cameraOfSingleviewType(type)];
    sv.vehicleWidth = s.multiviews[0].vehicleWidth;
    sv.vehicleLength = s.multiviews[0].vehicleLength;
}

}  // namespace

int32_t modelCodeOf(const std::string& modelName) {
    const size_t blank = modelName.find(' ');
    if (blank == std::string::npos) return 0;
    const std::string rest = modelName.substr(blank + 1);
    const double value = std::strtod(rest.c_str(), nullptr);
    return format::truncToInt(value * 100.0);
}

bool loadConfiguration(const std::filesystem::path& path, CalibrationState& state, Ui& ui,
                       const std::function<void()>& beforeRelease) {
    std::vector<uint8_t> bytes;
    if (!format::readFileBytes(path, bytes)) return false;
    return loadConfiguration(std::span<const uint8_t>(bytes), state, ui, beforeRelease);
}

bool loadConfiguration(std::span<const uint8_t> bytes, CalibrationState& s, Ui& ui,
                       const std::function<void()>& beforeRelease) {
    format::ConfigCursor in(bytes);

    std::array<uint8_t, format::kConfigHeaderSize> header;
    if (!in.read(header.data(), header.size())) return false;
    if (header[20] != kCameraCount || header[21] == 0 || header[22] != header[21]) {
        ui.showMessage("Config file header error!", kAppTitle, MessageIcon::kError);
        return false;
    }
    s.header = header;
    const char* name = reinterpret_cast<const char*>(header.data() + 4);
    s.modelName.assign(name, strnlen(name, format::kModelNameField));
    ui.setTitle("Model : " + s.modelName);

    bool ok = true;

    // Cameras. The buffer is cleared once: a short payload keeps the words of the record before.
    uint8_t cameraBuffer[format::kCameraPayloadSize] = {};
    for (int i = 0; i < header[20]; ++i) {
        format::ChunkHeader chunk;
        if (!in.readChunkHeader(chunk)) return false;
        if (chunk.type < format::kRecordFrontCamera || chunk.type > format::kRecordRightCamera) {
            // The payload is not skipped: the next record header is looked for right here.
            ok = false;
            continue;
        }
        if (!in.readPayload(chunk.length, cameraBuffer, sizeof cameraBuffer)) return false;
        CameraParam& cam = s.cameras[chunk.type - format::kRecordFrontCamera];
        format::decodeCamera(cameraBuffer, cam);
        if (cam.width < 1 || cam.width > format::kMaxCameraSide || cam.height < 1 ||
            cam.height > format::kMaxCameraSide)
            ok = false;
    }

    // Stitched views.
    if (beforeRelease) beforeRelease();
    s.releaseMultiviews();
    uint8_t multiviewBuffer[format::kMultiviewPayloadSize] = {};
    for (int i = 0; i < header[21]; ++i) {
        format::ChunkHeader chunk;
        if (!in.readChunkHeader(chunk)) return false;
        int slot = -1;
        if (chunk.type >= format::kRecordMultiview0 && chunk.type < format::kRecordMultiview0 + kMultiviewSlots) {
            slot = chunk.type - format::kRecordMultiview0;
            // A second record of the same slot replaces the engine; the first must not leak.
            if (s.multiviewHandles[slot]) mzMultiviewRelease(&s.multiviewHandles[slot]);
            s.multiviewHandles[slot] = mzMultiviewCreate(0);
        } else {
            ok = false;
        }
        if (chunk.length < 0) return false;
        if (chunk.length >= 1) {
            if (!in.readPayload(chunk.length, multiviewBuffer, sizeof multiviewBuffer)) return false;
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
        format::ChunkHeader chunk;
        if (!in.readChunkHeader(chunk)) return false;
        if (chunk.type < format::kRecordCarImage0 || chunk.type >= format::kRecordCarImage0 + kMultiviewSlots) {
            continue;  // skipped without failing; its payload is not skipped either
        }
        const int slot = chunk.type - format::kRecordCarImage0;
        const MultiviewParam& mv = s.multiviews[slot];
        if (chunk.length < 0) return false;
        if (mv.width < 0 || mv.height < 0 || chunk.length != format::paddedImageSize(mv.width, mv.height)) {
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
        format::ChunkHeader chunk;
        if (!in.readChunkHeader(chunk)) return false;
        if (i >= kSingleviewSlots) {
            ok = false;
            break;
        }
        s.singleviewHandles[i] = mzSingleviewCreate(0);
        s.singleviews[i] = SingleviewParam{};
        if (chunk.type < format::kRecordSingleviewFirst || chunk.type > format::kRecordSingleviewLast) {
            ok = false;
            break;
        }
        if (!in.readPayload(chunk.length, s.singleviewRaw[i].data(), format::kSingleviewPayloadSize)) {
            return false;
        }
        if (chunk.length >= 1) format::decodeSingleview(s.singleviewRaw[i].data(), s.singleviews[i]);
        attachSingleview(s, i, chunk.type);
    }
    return ok;
}

}  // namespace mz::core
