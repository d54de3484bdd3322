#include "format/picture.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>

#include "format/file_read.h"

namespace mz::format {

namespace {

constexpr int64_t kMaxSide = 16384;
// A few hundred bytes of a compressed file can claim any size: the pixel memory is bounded
// before it is taken (64 million pixels is 192 MB of rows, far beyond any camera).
constexpr int64_t kMaxPixels = int64_t{64} << 20;

std::string sizeProblem(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) return "the picture has no pixels";
    if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels) {
        return "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels, more than this program takes (at most 16384 a side and 64 million in all)";
    }
    return {};
}

PictureRead refused(std::string problem) { return PictureRead{std::nullopt, std::move(problem)}; }

// ---- JPEG ----

// libjpeg reports fatal errors through a callback that must not return: it jumps back into
// decodeJpegInto, whose own state all lives in the caller's frame.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char firstMessage[JMSG_LENGTH_MAX];
};

struct JpegDecoder {
    jpeg_decompress_struct info;
    JpegErrors errors;
};

[[noreturn]] void onJpegError(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->firstMessage);
    std::longjmp(errors->jump, 1);
}

// Warnings (corrupt data, a file cut short) are counted by libjpeg; the first one is kept to
// tell the user, nothing goes to the terminal.
void onJpegMessage(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    if (errors->firstMessage[0] == '\0') (*info->err->format_message)(info, errors->firstMessage);
}

// The libjpeg calls run behind the error jump in functions of their own that hold no C++ object:
// a jump out of libjpeg skips no destructor and finds no local changed since setjmp.
bool jpegReadHeader(JpegDecoder& d, const uint8_t* data, unsigned long size) {
    if (setjmp(d.errors.jump) != 0) return false;
    jpeg_create_decompress(&d.info);
    jpeg_mem_src(&d.info, data, size);
    jpeg_read_header(&d.info, TRUE);
    return true;
}

bool jpegReadRows(JpegDecoder& d, uint8_t* pixels, size_t stride) {
    if (setjmp(d.errors.jump) != 0) return false;
    d.info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d.info);
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW row = pixels + stride * d.info.output_scanline;
        jpeg_read_scanlines(&d.info, &row, 1);
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

struct JpegEncoder {
    jpeg_compress_struct info;
    JpegErrors errors;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

bool jpegCompress(JpegEncoder& e, int width, int height, int stride, const uint8_t* pixels, int quality) {
    if (setjmp(e.errors.jump) != 0) return false;
    jpeg_create_compress(&e.info);
    jpeg_mem_dest(&e.info, &e.buffer, &e.size);
    e.info.image_width = static_cast<JDIMENSION>(width);
    e.info.image_height = static_cast<JDIMENSION>(height);
    e.info.input_components = 3;
    e.info.in_color_space = JCS_EXT_BGR;
    // The defaults halve the colour both ways (4:2:0), as a camera's own encoder does.
    jpeg_set_defaults(&e.info);
    jpeg_set_quality(&e.info, quality, TRUE);
    jpeg_start_compress(&e.info, TRUE);
    while (e.info.next_scanline < e.info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(pixels) + static_cast<size_t>(stride) * e.info.next_scanline;
        jpeg_write_scanlines(&e.info, &row, 1);
    }
    jpeg_finish_compress(&e.info);
    return true;
}

bool decodeJpegInto(JpegDecoder& d, std::span<const uint8_t> file, Bitmap& out, std::string& problem) {
    d.info.err = jpeg_std_error(&d.errors.manager);
    d.errors.manager.error_exit = onJpegError;
    d.errors.manager.output_message = onJpegMessage;
    d.errors.firstMessage[0] = '\0';
    auto damaged = [&] {
        problem = std::string("the JPEG file is damaged (") + d.errors.firstMessage + ")";
        jpeg_destroy_decompress(&d.info);
        return false;
    };
    if (!jpegReadHeader(d, file.data(), static_cast<unsigned long>(file.size()))) return damaged();
    problem = sizeProblem(d.info.image_width, d.info.image_height);
    if (problem.empty() && d.info.jpeg_color_space != JCS_GRAYSCALE && d.info.jpeg_color_space != JCS_YCbCr &&
        d.info.jpeg_color_space != JCS_RGB) {
        problem = "the JPEG picture is neither colour (RGB) nor grey-scale (CMYK pictures are not taken)";
    }
    if (!problem.empty()) {
        jpeg_destroy_decompress(&d.info);
        return false;
    }
    out.width = static_cast<int>(d.info.image_width);
    out.height = static_cast<int>(d.info.image_height);
    out.bitsPerPixel = d.info.jpeg_color_space == JCS_GRAYSCALE ? 8 : 24;
    out.pixels.assign(static_cast<size_t>(out.stride()) * out.height, 0);
    if (!jpegReadRows(d, out.pixels.data(), static_cast<size_t>(out.stride()))) return damaged();
    const bool warned = d.errors.manager.num_warnings > 0;
    jpeg_destroy_decompress(&d.info);
    if (warned) {
        problem = std::string("the JPEG file is damaged (") + d.errors.firstMessage + ")";
        return false;
    }
    return true;
}

std::string lowerExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace

PictureRead decodePng(std::span<const uint8_t> file) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        return refused(std::string("the PNG file is damaged (") + image.message + ")");
    }
    std::string problem = sizeProblem(image.width, image.height);
    if (!problem.empty()) {
        png_image_free(&image);
        return refused(std::move(problem));
    }
    Bitmap out;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    const bool colour = (image.format & PNG_FORMAT_FLAG_COLOR) != 0;
    const bool palette = (image.format & PNG_FORMAT_FLAG_COLORMAP) != 0;
    out.bitsPerPixel = colour && !palette ? 24 : 8;
    out.pixels.assign(static_cast<size_t>(out.stride()) * out.height, 0);
    image.format = PNG_FORMAT_BGR;
    // A transparent picture is laid on black, the colour of nothing seen.
    const png_color black{0, 0, 0};
    if (!png_image_finish_read(&image, &black, out.pixels.data(), out.stride(), nullptr)) {
        return refused(std::string("the PNG file is damaged (") + image.message + ")");
    }
    return PictureRead{std::move(out), {}};
}

PictureRead decodeJpeg(std::span<const uint8_t> file) {
    JpegDecoder decoder;
    Bitmap out;
    std::string problem;
    if (!decodeJpegInto(decoder, file, out, problem)) return refused(std::move(problem));
    return PictureRead{std::move(out), {}};
}

std::vector<uint8_t> encodeJpeg(int width, int height, int stride, std::span<const uint8_t> pixels, int quality) {
    if (width <= 0 || height <= 0 || stride < 3 * width || pixels.size() < static_cast<size_t>(stride) * height ||
        quality < 1 || quality > 100) {
        throw std::invalid_argument("encodeJpeg: no picture of that size or quality");
    }
    JpegEncoder encoder;
    encoder.info.err = jpeg_std_error(&encoder.errors.manager);
    encoder.errors.manager.error_exit = onJpegError;
    encoder.errors.manager.output_message = onJpegMessage;
    encoder.errors.firstMessage[0] = '\0';
    const bool done = jpegCompress(encoder, width, height, stride, pixels.data(), quality);
    std::vector<uint8_t> file;
    if (done) file.assign(encoder.buffer, encoder.buffer + encoder.size);
    jpeg_destroy_compress(&encoder.info);
    std::free(encoder.buffer);
    if (!done)
        throw std::runtime_error(std::string("cannot encode a JPEG picture (") + encoder.errors.firstMessage + ")");
    return file;
}

PictureRead readPicture(const std::filesystem::path& path, std::vector<uint8_t>* file) {
    const std::string ext = lowerExtension(path);
    if (ext == ".bmp") {
        std::optional<Bitmap> bitmap = readBitmap(path, file);
        if (!bitmap) return refused("the bitmap file " + unreadableBitmap(path));
        return PictureRead{std::move(bitmap), {}};
    }
    const bool png = ext == ".png";
    if (!png && ext != ".jpg" && ext != ".jpeg") return refused("the file is neither BMP, PNG nor JPEG");
    std::vector<uint8_t> bytes;
    const std::string problem = readWholeFile(path, kMaxPictureFileBytes, bytes);
    if (!problem.empty()) return refused("the file " + problem);
    PictureRead read = png ? decodePng(bytes) : decodeJpeg(bytes);
    if (file) *file = std::move(bytes);
    return read;
}

std::optional<std::filesystem::path> findPicture(const std::filesystem::path& folder, const std::string& stem) {
    static constexpr const char* kEndings[] = {".bmp", ".BMP", ".png", ".PNG", ".jpg", ".JPG", ".jpeg", ".JPEG"};
    for (const char* ending : kEndings) {
        std::filesystem::path candidate = folder / (stem + ending);
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

}  // namespace mz::format
