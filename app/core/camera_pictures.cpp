#include "app/core/camera_pictures.h"

#include <cstring>
#include <optional>
#include <system_error>

#include "format/bitmap.h"
#include "format/picture.h"

namespace mz::core {

namespace {

constexpr const char* kMissingImage[kCameraCount] = {
    "Could not read FRONT image file.", "Could not read REAR image file.", "Could not read LEFT image file.",
    "Could not read RIGHT image file."};

constexpr const char* kCameraWords[kCameraCount] = {"FRONT", "REAR", "LEFT", "RIGHT"};

void pictureError(Ui& ui, const std::string& text, const std::string& detail) {
    ui.showDetailedMessage(text, kAppTitle, MessageIcon::kError, detail);
}

std::string pictureDetail(int camera, const std::filesystem::path& file, const std::string& problem,
                          const CameraParam& front) {
    return std::string(kCameraWords[camera]) + " camera: " + file.string() + " " + problem +
           "; 24-bit colour pictures of the front camera's size, " + std::to_string(front.width) + "x" +
           std::to_string(front.height) + ", are needed";
}

// A w x h quadrant at (x0, y0) of a picture.
format::Bitmap quadrant(const format::Bitmap& whole, int x0, int y0, int w, int h) {
    format::Bitmap part;
    part.width = w;
    part.height = h;
    part.bitsPerPixel = whole.bitsPerPixel;
    part.pixels.assign(static_cast<size_t>(part.stride()) * h, 0);
    for (int y = 0; y < h; ++y) {
        std::memcpy(part.pixels.data() + static_cast<size_t>(part.stride()) * y,
                    whole.row(y0 + y) + static_cast<size_t>(x0) * 3, static_cast<size_t>(w) * 3);
    }
    return part;
}

}  // namespace

std::string unreadablePicture(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (!ec && status.type() == std::filesystem::file_type::directory) return "is a folder";
    if (!ec && status.type() != std::filesystem::file_type::regular)
        return "is not a regular file (a device or a pipe)";
    if (format::hasBitmapExtension(path)) return format::unreadableBitmap(path);
    return "is not a picture this program reads (uncompressed BMP, PNG or JPEG)";
}

CommandStatus readCameraPictures(const std::filesystem::path& root, const CameraParam& front, Ui& ui,
                                 std::array<format::Bitmap, kCameraCount>& pictures, std::string& detail,
                                 const SeeFile& see) {
    // "image/front.bmp" when it is there, else the PNG or JPEG picture of the same name.
    std::array<std::filesystem::path, kCameraCount> files;
    for (int c = 0; c < kCameraCount; ++c) {
        const std::filesystem::path bitmap = root / kDefaultImageNames[c];
        std::optional<std::filesystem::path> found = format::findPicture(bitmap.parent_path(), bitmap.stem().string());
        if (!found) {
            detail =
                std::string(kCameraWords[c]) + " camera: no " + bitmap.string() + " (nor a .png or .jpg of that name)";
            pictureError(ui, kMissingImage[c], detail);
            return CommandStatus::kFailed;
        }
        files[c] = std::move(*found);
    }
    // The libraries take 24-bit pictures of the front camera's size; anything else is refused
    // before a view changes.
    for (int c = 0; c < kCameraCount; ++c) {
        std::optional<format::Bitmap> picture;
        std::vector<uint8_t> bytes;
        std::vector<uint8_t>* keep = see ? &bytes : nullptr;
        if (format::hasBitmapExtension(files[c])) {
            picture = format::readBitmap(files[c], keep);
        } else {
            // Pictures from other sources say what is wrong with them; a bitmap keeps its short message.
            format::PictureRead decoded = format::readPicture(files[c], keep);
            if (!decoded.picture) {
                detail = pictureDetail(c, files[c], decoded.problem, front);
                pictureError(ui, "Wrong Image Format !\n\n" + files[c].filename().string() + ": " + decoded.problem,
                             detail);
                return CommandStatus::kFailed;
            }
            if (decoded.picture->bitsPerPixel != 24) {
                detail = pictureDetail(c, files[c], "is not in colour", front);
                pictureError(ui,
                             "Wrong Image Format !\n\n" + files[c].filename().string() +
                                 ": the picture is not in colour (24 bits a pixel)",
                             detail);
                return CommandStatus::kFailed;
            }
            picture = std::move(decoded.picture);
        }
        if (!picture || picture->bitsPerPixel != 24) {
            detail = pictureDetail(c, files[c],
                                   picture ? "is a " + std::to_string(picture->bitsPerPixel) + "-bit picture"
                                           : unreadablePicture(files[c]),
                                   front);
            pictureError(ui, "Wrong Image Format !", detail);
            return CommandStatus::kFailed;
        }
        if (picture->width != front.width || picture->height != front.height) {
            detail = pictureDetail(
                c, files[c], "is " + std::to_string(picture->width) + "x" + std::to_string(picture->height), front);
            pictureError(ui, "Wrong Image Size !", detail);
            return CommandStatus::kFailed;
        }
        pictures[c] = std::move(*picture);
        if (see) see(files[c], bytes);
    }
    return CommandStatus::kDone;
}

CommandStatus readQuadPicture(const std::string& path, int w, int h, Ui& ui,
                              std::array<format::Bitmap, kCameraCount>& pictures, std::string& detail,
                              const SeeFile& see) {
    std::vector<uint8_t> bytes;
    const std::optional<format::Bitmap> whole = format::readBitmap(path, see ? &bytes : nullptr);
    const std::string needed = "; a 24-bit bitmap of twice the camera size, " + std::to_string(2 * w) + "x" +
                               std::to_string(2 * h) + ", is needed";
    if (!whole) {
        detail = "the four-quadrant picture " + path + " " + unreadablePicture(path) + needed;
        pictureError(ui, "Wrong Image Format !", detail);
        return CommandStatus::kFailed;
    }
    if (w <= 0 || h <= 0 || whole->width != 2 * w || whole->height != 2 * h) {
        detail = "the four-quadrant picture " + path + " is " + std::to_string(whole->width) + "x" +
                 std::to_string(whole->height) + needed;
        pictureError(ui, "Wrong Image Size !", detail);
        return CommandStatus::kFailed;
    }
    // On screen: front top left, rear top right, left bottom left, right bottom right.
    pictures[kFront] = quadrant(*whole, 0, 0, w, h);
    pictures[kRear] = quadrant(*whole, w, 0, w, h);
    pictures[kLeft] = quadrant(*whole, 0, h, w, h);
    pictures[kRight] = quadrant(*whole, w, h, w, h);
    if (see) see(path, bytes);
    return CommandStatus::kDone;
}

}  // namespace mz::core
