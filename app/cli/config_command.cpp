#include "app/cli/config_command.h"

#include <cstdio>
#include <stdexcept>

#include <CLI/CLI.hpp>

#include "app/cli/camera_keys.h"
#include "app/cli/folded_output.h"
#include "app/cli/option_checks.h"
#include "app/cli/simulate_command.h"
#include "app/core/config_check.h"
#include "app/core/lens_import.h"
#include "app/core/new_vehicle.h"
#include "format/atomic_file.h"
#include "format/bitmap.h"
#include "format/config_json.h"
#include "format/config_reader.h"
#include "format/config_writer.h"
#include "format/file_read.h"
#include "format/opencv_storage.h"

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

int newVehicle(const ConfigOptions& o) {
    core::NewVehicle v;
    if (!parseImageSize(o.pictureSize, v.pictureWidth, v.pictureHeight))
        throw std::invalid_argument("--picture-size must be WxH, e.g. 720x480, not \"" + o.pictureSize + "\"");
    v.vehicleWidth = o.vehicleWidth;
    v.vehicleLength = o.vehicleLength;
    v.markerLength = o.markerLength;
    v.model = o.model;
    for (int i = 0; i < 4; ++i) {
        v.lensFiles[i] = o.lensFiles[i];
        try {
            v.lenses[i] = core::importOpencvFisheye(format::readOpencvStorage(o.lensFiles[i]));
        } catch (const std::exception& e) {
            throw std::runtime_error(std::string("--") + kCameraKeys[i] + " " + o.lensFiles[i] + ": " + e.what());
        }
    }
    if (const std::string problem = core::newVehicleProblem(v); !problem.empty()) {
        std::fprintf(stderr, "calibration-cli: %s\nNothing was written.\n", problem.c_str());
        return 1;
    }
    const std::filesystem::path out(o.newOut);
    // A starting file is edited by hand afterwards; a second config new must not wipe that work.
    if (std::filesystem::exists(out)) {
        std::fprintf(stderr, "calibration-cli: %s exists; remove it or name another file\nNothing was written.\n",
                     o.newOut.c_str());
        return 1;
    }
    const format::ConfigFile config = core::newVehicleConfig(v);
    if (out.has_parent_path()) std::filesystem::create_directories(out.parent_path());
    format::writeFileAtomically(out, format::configToJsonWithAutoMaps(config, {}, core::newVehicleNotes(v)));
    for (int i = 0; i < 4; ++i) {
        if (v.lenses[i].maxError > core::kLensFitGoal) {
            std::fprintf(
                stderr,
                "calibration-cli: warning: %s: the inverse polynomial misses the lens by %.3f px (goal %.2f px)\n",
                o.lensFiles[i].c_str(), v.lenses[i].maxError, core::kLensFitGoal);
        }
    }
    const format::ConfigMultiview& full = config.multiviews[0];
    const format::ConfigMultiview& front = config.multiviews[1];
    std::printf(
        "%s written: %d x %d pictures, vehicle %d x %d mm, triangles %g mm; AVM2D_FULL %g mm a pixel, "
        "AVM2D_FRONT and AVM2D_REAR %g mm a pixel, %zu single views\n",
        o.newOut.c_str(), v.pictureWidth, v.pictureHeight, v.vehicleWidth, v.vehicleLength, v.markerLength,
        static_cast<double>(full.mmPerPixel), static_cast<double>(front.mmPerPixel), config.singleviews.size());
    return 0;
}

}  // namespace

CLI::App* addConfigCommand(CLI::App& app, ConfigOptions& o) {
    CLI::App* cmd = app.add_subcommand(
        "config", "Show a Config.bin as text or JSON, build one from JSON, or start a new vehicle's JSON");
    cmd->require_subcommand(1);
    CLI::App* showCmd = cmd->add_subcommand("show", "Every record of a Config.bin, readable or as JSON");
    showCmd->add_option("file", o.showFile, "Config.bin")->required()->check(CLI::ExistingFile);
    showCmd->add_flag("--json", o.json, "JSON as config build takes it (see docs/config.md)");
    showCmd->add_option("--out", o.showOut,
                        "With --json: write the JSON to this file and the car images beside it as bitmaps");
    CLI::App* buildCmd = cmd->add_subcommand("build", "Write a Config.bin from JSON, whole or not at all");
    buildCmd->add_option("file", o.buildFile, "config.json")->required()->check(CLI::ExistingFile);
    buildCmd->add_option("--out", o.buildOut, "Config.bin to write")->required();
    CLI::App* newCmd = cmd->add_subcommand(
        "new", "A starting JSON for a new vehicle: its lenses, the usual views, stitching maps drawn at build time");
    for (int i = 0; i < 4; ++i) {
        newCmd
            ->add_option(std::string("--") + kCameraKeys[i], o.lensFiles[i],
                         std::string("OpenCV fisheye calibration of the ") + kCameraKeys[i] +
                             " camera (YAML or XML, as lens import reads it)")
            ->required()
            ->check(CLI::ExistingFile);
    }
    newCmd->add_option("--picture-size", o.pictureSize, "The cameras' picture size WxH, e.g. 720x480")->required();
    newCmd->add_option("--vehicle-width", o.vehicleWidth, "Across the vehicle, mm")
        ->required()
        ->check(wholeWithin(1, 1e6));
    newCmd->add_option("--vehicle-length", o.vehicleLength, "Along the vehicle, mm")
        ->required()
        ->check(wholeWithin(1, 1e6));
    newCmd->add_option("--marker-length", o.markerLength, "Outer side of the floor triangles, mm")
        ->required()
        ->check(numberWithin(1, 1e6));
    newCmd->add_option("--model", o.model, "Model name written into the configuration")->capture_default_str();
    newCmd->add_option("--out", o.newOut, "JSON to write (not over an existing file)")->required();
    return cmd;
}

int runConfig(const CLI::App& config, const ConfigOptions& o) {
    if (config.got_subcommand("show")) return show(o);
    if (config.got_subcommand("new")) return newVehicle(o);
    return build(o);
}

}  // namespace mz::cli
