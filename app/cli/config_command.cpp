#include "app/cli/config_command.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <CLI/CLI.hpp>

#include "format/atomic_file.h"
#include "format/bitmap.h"
#include "format/config_json.h"
#include "format/config_reader.h"
#include "format/config_writer.h"

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
        std::fputs(format::configToText(config).c_str(), stdout);
        return 0;
    }
    std::vector<std::string> carFiles;
    if (o.showOut.empty()) {
        if (!config.carImages.empty()) {
            std::fprintf(stderr, "calibration-cli: car images are not written without --out; their \"file\" is null\n");
        }
        std::fputs(format::configToJson(config, carFiles).c_str(), stdout);
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

int build(const ConfigOptions& o) {
    std::ifstream in(o.buildFile, std::ios::binary);
    if (!in) throw std::runtime_error(o.buildFile + ": cannot be read");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    format::ConfigFile config;
    try {
        config = format::configFromJson(text, std::filesystem::path(o.buildFile).parent_path());
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
