// OpenCV file storage of the lens import, in YAML and in XML.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "format/opencv_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        (void)mz::format::parseOpencvYaml(text);
    } catch (const std::runtime_error&) {
    }
    try {
        (void)mz::format::parseOpencvXml(text);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
