// Config.bin bytes through the format's reader and back through its writer.
#include <cstdint>
#include <exception>
#include <span>

#include "format/config_reader.h"
#include "format/config_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mz::format::ConfigFile config;
    try {
        config = mz::format::decodeConfig(std::span<const uint8_t>(data, size));
    } catch (const std::exception&) {
        return 0;  // refused with a message: the reader's answer to a damaged file
    }
    // What was read must encode again and read back to the same bytes.
    const auto bytes = mz::format::encodeConfig(config);
    const auto again = mz::format::encodeConfig(mz::format::decodeConfig(bytes));
    if (again != bytes) __builtin_trap();
    return 0;
}
