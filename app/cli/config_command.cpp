#include "app/cli/config_command.h"

#include <cstdio>
#include <stdexcept>

#include <CLI/CLI.hpp>

#include "app/cli/folded_output.h"
#include "app/core/config_check.h"
#include "format/atomic_file.h"
#include "format/bitmap.h"
#include "format/config_json.h"
#include "format/config_reader.h"
#include "format/config_writer.h"
#include "format/file_read.h"

namespace mz::cli {

namespace {

format::ConfigFile readConfig(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!format::readFileBytes(path, bytes)) throw std::runtime_error(path + ": cannot be read");
    try {
        return format::decodeConfig(bytes);
    } catch (const std::invalid_argument& e) {
        throw std::runtime_error(path + ": not a configuration this program can show: " + e.what());
    }
}

format::Bitmap carPicture(const format::ConfigFile& config, const format::ConfigCarImage& car) {
    format::Bitmap picture;
    for (const format::ConfigMultiview& mv : config.multiviews) {
        if (mv.type - format::kRecordMultiview0 == car.type - format::kRecordCarImage0) {
            picture.width = mv.width;
            picture.height = mv.height;
        }
    }
    picture.bitsPerPixel = 24;
    picture.pixels = car.pixels;
    return picture;
}

int show(const ConfigOptions& o) {
    const format::ConfigFile config = readConfig(o.showFile);
    if (!o.json) {
        std::fputs(format::configToText(config).c_str(), dataStream());
        return 0;
    }
    std::vector<std::string> carFiles;
    if (o.showOut.empty()) {
        if (!config.carImages.empty()) {
            std::fprintf(stderr, "calibration-cli: car images are not written without --out; their \"file\" is null\n");
        }
        std::fputs(format::configToJson(config, carFiles).c_str(), dataStream());
        return 0;
    }
    // The car images go beside the JSON, named after it, so the folder can be moved as a whole.
    const std::filesystem::path out(o.showOut);
    if (out.has_parent_path()) std::filesystem::create_directories(out.parent_path());
    for (const format::ConfigCarImage& car : config.carImages) {
        const std::string name =
            out.stem().string() + ".car" + std::to_string(car.type - format::kRecordCarImage0) + ".bmp";
        format::writeFileAtomically(out.parent_path() / name, format::encodeBitmap(carPicture(config, car)));
        carFiles.push_back(name);
    }
    format::writeFileAtomically(out, format::configToJson(config, carFiles));
    std::printf("%s written", o.showOut.c_str());
    for (const std::string& f : carFiles) std::printf(", %s", f.c_str());
    std::printf("\n");
    return 0;
}

// Where in config build's JSON the record and field of a problem stand.
std::string jsonPointer(const core::ConfigProblem& p, const format::ConfigFile& config) {
    std::string record;
    auto find = [&](const char* array, const auto& records, int type) {
        for (size_t i = 0; i < records.size(); ++i)
            if (records[i].type == type) record = std::string("/") + array + "/" + std::to_string(i);
    };
    switch (p.record) {
    case core::ConfigRecord::kCamera: find("cameras", config.cameras, format::kRecordFrontCamera + p.index); break;
    case core::ConfigRecord::kStitchedView:
        find("multiviews", config.multiviews, format::kRecordMultiview0 + p.index);
        break;
    case core::ConfigRecord::kSingleView: record = "/singleviews/" + std::to_string(p.index); break;
    case core::ConfigRecord::kWhole: break;
    }
    return p.field.empty() ? record : record + "/" + p.field;
}

int build(const ConfigOptions& o) {
    const std::string text = format::readTextFile(o.buildFile);
    format::ConfigFile config;
    try {
        config = format::configFromJson(text, std::filesystem::path(o.buildFile).parent_path());
        // What the workflow's Config Load would refuse is refused here, before the file exists.
        if (const std::optional<core::ConfigProblem> p = core::checkConfigurationBytes(format::encodeConfig(config)))
            throw format::ConfigJsonError(jsonPointer(*p, config), p->text);
    } catch (const format::ConfigJsonError& e) {
        std::fprintf(stderr, "calibration-cli: %s: %s\nNothing was written.\n", o.buildFile.c_str(), e.what());
        return 1;
    }
    format::writeConfigFile(o.buildOut, config);
    std::printf("%s written: model \"%s\", %zu stitched views, %zu single views\n", o.buildOut.c_str(),
                config.model.c_str(), config.multiviews.size(), config.singleviews.size());
    return 0;
}

}  // namespace

CLI::App* addConfigCommand(CLI::App& app, ConfigOptions& o) {
    CLI::App* cmd = app.add_subcommand("config", "Show a Config.bin as text or JSON, or build one from JSON");
    cmd->require_subcommand(1);
    CLI::App* showCmd = cmd->add_subcommand("show", "Every record of a Config.bin, readable or as JSON");
    showCmd->add_option("file", o.showFile, "Config.bin")->required()->check(CLI::ExistingFile);
    showCmd->add_flag("--json", o.json, "JSON as config build takes it (see docs/config.md)");
    showCmd->add_option("--out", o.showOut,
                        "With --json: write the JSON to this file and the car images beside it as bitmaps");
    CLI::App* buildCmd = cmd->add_subcommand("build", "Write a Config.bin from JSON, whole or not at all");
    buildCmd->add_option("file", o.buildFile, "config.json")->required()->check(CLI::ExistingFile);
    buildCmd->add_option("--out", o.buildOut, "Config.bin to write")->required();
    return cmd;
}

int runConfig(const CLI::App& config, const ConfigOptions& o) {
    if (config.got_subcommand("show")) return show(o);
    return build(o);
}

}  // namespace mz::cli
