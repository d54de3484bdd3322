// Camera pictures: bitmap, PNG and JPEG readers on any bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "format/bitmap.h"
#include "format/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    (void)mz::format::decodeBitmap(bytes);
    (void)mz::format::decodePng(bytes);
    (void)mz::format::decodeJpeg(bytes);
    return 0;
}
