#include "app/cli/inspect_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "format/file_read.h"
#include "format/flash_data.h"
#include "format/output_set.h"

namespace mz::cli {

namespace {

uint16_t word(std::span<const uint8_t> b, size_t index) {
    return static_cast<uint16_t>(b[2 * index] | (b[2 * index + 1] << 8));
}

std::string dateText(const FlashFileInfo& f) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", f.year, f.month, f.day);
    return text;
}

nlohmann::json infoJson(const std::string& path, const FlashFileInfo& f) {
    return {{"path", path},
            {"id", f.identifier},
            {"headerLength", f.headerLength},
            {"date", dateText(f)},
            {"version", std::to_string(f.major) + "." + std::to_string(f.minor)},
            {"payloadBytes", f.payloadLength},
            {"headerChecksumOk", f.headerChecksum == f.expectedHeaderChecksum},
            {"blocks", f.blocks},
            {"badBlocks", f.badBlocks},
            {"ok", f.problems.empty()},
            {"problems", f.problems}};
}

}  // namespace

int fromBcd(uint16_t bcd) {
    int value = 0;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const int digit = (bcd >> shift) & 0xF;
        if (digit > 9) return -1;
        value = value * 10 + digit;
    }
    return value;
}

FlashFileInfo decodeFlashFile(std::span<const uint8_t> bytes) {
    FlashFileInfo f;
    if (bytes.size() < static_cast<size_t>(format::kFlashHeaderSize)) {
        f.problems.push_back("shorter than the 32-byte header (" + std::to_string(bytes.size()) + " bytes)");
        return f;
    }
    f.identifier = word(bytes, 0);
    f.headerLength = word(bytes, 1);
    const uint16_t year = word(bytes, 2), monthDay = word(bytes, 3);
    f.year = fromBcd(year);
    f.month = fromBcd(monthDay >> 8);
    f.day = fromBcd(monthDay & 0xFF);
    f.payloadLength = (uint32_t{word(bytes, 4)} << 16) | word(bytes, 5);
    const uint16_t version = word(bytes, 6);
    f.major = fromBcd(version >> 8);
    f.minor = fromBcd(version & 0xFF);
    uint32_t sum = 0;
    for (size_t i = 0; i <= 6; ++i) sum += word(bytes, i);
    f.expectedHeaderChecksum = static_cast<uint16_t>(sum);
    f.headerChecksum = word(bytes, 15);
    if (f.headerChecksum != f.expectedHeaderChecksum) {
        char text[96];
        std::snprintf(text, sizeof text, "header checksum 0x%04X, expected 0x%04X", f.headerChecksum,
                      f.expectedHeaderChecksum);
        f.problems.push_back(text);
    }
    if (f.headerLength != format::kFlashHeaderSize) {
        f.problems.push_back("header length " + std::to_string(f.headerLength) + ", expected 32");
    }
    bool zeros = true;
    for (size_t i = 7; i <= 14; ++i) zeros &= word(bytes, i) == 0;
    if (!zeros) f.problems.push_back("reserved header words 7 to 14 are not 0");
    if (f.year < 0 || f.month < 0 || f.day < 0) f.problems.push_back("the date is not in decimal digits");
    if (f.major < 0 || f.minor < 0) f.problems.push_back("the version is not in decimal digits");

    const uint64_t expectedSize = format::flashFileSize(f.payloadLength);
    if (bytes.size() != expectedSize) {
        f.problems.push_back("file holds " + std::to_string(bytes.size()) +
                             " bytes, the header's payload length needs " + std::to_string(expectedSize));
    }
    // Whatever the size says, every complete block present is checked.
    size_t pos = format::kFlashHeaderSize;
    uint64_t remaining = f.payloadLength;
    while (remaining > 0) {
        const size_t block = static_cast<size_t>(std::min<uint64_t>(remaining, format::kFlashBlockSize));
        if (pos + block + 1 > bytes.size()) break;
        uint8_t sum8 = 0;
        for (size_t i = 0; i < block; ++i) sum8 = static_cast<uint8_t>(sum8 + bytes[pos + i]);
        if (sum8 != bytes[pos + block]) f.badBlocks.push_back(f.blocks);
        ++f.blocks;
        pos += block + 1;
        remaining -= block;
    }
    if (!f.badBlocks.empty()) {
        std::string text = std::to_string(f.badBlocks.size()) + " block checksum(s) wrong, first at block " +
                           std::to_string(f.badBlocks.front()) + " (payload byte " +
                           std::to_string(f.badBlocks.front() * format::kFlashBlockSize) + ")";
        f.problems.push_back(text);
    }
    return f;
}

void addInspectCommand(CLI::App& app, InspectOptions& o) {
    CLI::App* cmd = app.add_subcommand(
        "inspect", "Decode flash data files and verify their checksums; check that an output folder holds one set");
    cmd->add_option("files", o.files, "Flash data files (.bin), or output folders")->required();
    cmd->add_flag("--json", o.json, "Print the results as JSON");
    cmd->add_flag("--repair", o.repair,
                  "Finish or undo a save that was interrupted in the folders and remove its temporary files");
}

namespace {

// A folder: its sets and whether each is whole.
int inspectFolder(const std::string& path, bool json, bool repair, nlohmann::json& all) {
    int status = 0;
    if (repair) {
        try {
            for (const std::string& done : format::repairOutputSets(path))
                std::printf("%s: %s\n", path.c_str(), done.c_str());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "calibration-cli inspect: cannot repair %s: %s\n", path.c_str(), e.what());
            status = 1;
        }
    }
    for (const format::SetCheck& c : format::checkOutputSets(path)) {
        if (!c.problems.empty()) status = 1;
        if (json) {
            all.push_back({{"path", path},
                           {"set", c.set.empty() ? nlohmann::json(nullptr) : nlohmann::json(c.set)},
                           {"id", c.id},
                           {"written", c.written},
                           {"tool", c.tool},
                           {"files", c.files},
                           {"interrupted", c.interrupted},
                           {"ok", c.problems.empty()},
                           {"problems", c.problems}});
            continue;
        }
        if (c.set.empty()) {
            std::printf("%s: no manifest (written by an older tool): its files cannot be checked as one set\n",
                        path.c_str());
        } else if (c.interrupted) {
            std::printf("%s: set %s: INTERRUPTED\n", path.c_str(), c.set.c_str());
        } else {
            std::printf("%s: set %s, id %s, written %s by %s, %zu files: %s\n", path.c_str(), c.set.c_str(),
                        c.id.c_str(), c.written.c_str(), c.tool.c_str(), c.files,
                        c.problems.empty() ? "one set" : "NOT ONE SET");
        }
        for (const std::string& p : c.problems) std::printf("  %s\n", p.c_str());
    }
    return status;
}

}  // namespace

int runInspect(const InspectOptions& o) {
    int status = 0;
    nlohmann::json all = nlohmann::json::array();
    for (const std::string& path : o.files) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            status |= inspectFolder(path, o.json, o.repair, all);
            continue;
        }
        std::vector<uint8_t> bytes;
        const std::string problem = format::readWholeFile(path, format::kMaxFlashFileBytes, bytes);
        FlashFileInfo f;
        if (!problem.empty()) {
            f.problems.push_back(problem);
        } else {
            f = decodeFlashFile(bytes);
        }
        if (!f.problems.empty()) status = 1;
        if (o.json) {
            all.push_back(infoJson(path, f));
            continue;
        }
        std::printf("%s: id %u, date %s, version %d.%d, payload %u bytes, %llu blocks: %s\n", path.c_str(),
                    f.identifier, dateText(f).c_str(), f.major, f.minor, f.payloadLength,
                    static_cast<unsigned long long>(f.blocks), f.problems.empty() ? "ok" : "FAILED");
        for (const std::string& p : f.problems) std::printf("  %s\n", p.c_str());
    }
    if (o.json) std::printf("%s\n", all.dump(2).c_str());
    return status;
}

}  // namespace mz::cli
