// Flash data files through the decoder of calibration-cli inspect.
#include <cstdint>
#include <span>

#include "app/cli/inspect_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto info = mz::cli::decodeFlashFile(std::span<const uint8_t>(data, size));
    if (info.badBlocks.size() > info.blocks) __builtin_trap();
    return 0;
}
