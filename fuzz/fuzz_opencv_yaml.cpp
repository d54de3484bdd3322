// OpenCV file storage YAML of the lens import.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "format/opencv_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        (void)mz::format::parseOpencvYaml(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const std::runtime_error&) {
    }
    return 0;
}
