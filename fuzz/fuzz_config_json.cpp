// Configuration text (JSON) through the reader of calibration-cli config.
#include <cstdint>
#include <exception>
#include <string>

#include "format/config_json.h"
#include "format/config_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        // Car pictures named by the text are looked for in a folder that does not exist.
        const auto config = mz::format::configFromJson(text, "/nonexistent/mz-fuzz");
        (void)mz::format::encodeConfig(config);
        (void)mz::format::configToText(config);
    } catch (const std::exception&) {
    }
    return 0;
}
