// calibration-cli inspect: decodes flash data files and checks every checksum in them; given an
// output folder, says whether its files are one set, and with --repair resolves an interrupted save.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace mz::cli {

struct InspectOptions {
    std::vector<std::string> files;  // flash data files, or output folders
    bool json = false;
    bool repair = false;
};

void addInspectCommand(CLI::App& app, InspectOptions& options);

// Exit status: 0 when every file decoded and every checksum matched, and every folder holds one
// set (or one an older tool wrote, without a manifest).
int runInspect(const InspectOptions& options);

struct FlashFileInfo {
    uint16_t identifier = 0;
    uint16_t headerLength = 0;
    int year = 0, month = 0, day = 0;
    int major = 0, minor = 0;
    uint32_t payloadLength = 0;
    uint16_t headerChecksum = 0;  // as stored
    uint16_t expectedHeaderChecksum = 0;
    uint64_t blocks = 0;
    std::vector<uint64_t> badBlocks;    // indices of blocks whose checksum byte does not match
    std::vector<std::string> problems;  // empty when the file is sound
};

// Decodes a whole file; never throws on malformed bytes (they become problems).
FlashFileInfo decodeFlashFile(std::span<const uint8_t> bytes);

// Value of BCD digits (0x2026 -> 2026); -1 when a nibble is not a decimal digit.
int fromBcd(uint16_t bcd);

}  // namespace mz::cli
