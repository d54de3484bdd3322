// Config.bin through the strict reader of config show, and the JSON of config build.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

#include "format/config_json.h"
#include "format/config_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        (void)mz::format::decodeConfig(std::span<const uint8_t>(data, size));
    } catch (const std::invalid_argument&) {
    }
    try {
        // Car-image paths resolve below a folder that does not exist: only the text is read.
        (void)mz::format::configFromJson(std::string(reinterpret_cast<const char*>(data), size), "/nonexistent");
    } catch (const mz::format::ConfigJsonError&) {
    }
    return 0;
}
